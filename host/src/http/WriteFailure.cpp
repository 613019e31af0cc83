#include "http/WriteFailure.h"

#include <errno.h>

namespace Orvane {
namespace Host {

bool WriteFailure::noSpace() const {
    return m_error == ENOSPC || m_error == EDQUOT || m_error == EFBIG;
}

}  // namespace Host
}  // namespace Orvane
