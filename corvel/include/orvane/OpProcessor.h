// A table from operation names to member-function delegates of one object.
// Filled once before any message arrives, read-only afterwards: lookups need
// no lock; each delegate serialises its own calls with its own mutex.
#pragma once

#include <Poco/Delegate.h>
#include <Poco/Exception.h>
#include <Poco/LogStream.h>
#include <boost/shared_ptr.hpp>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>

#include "orvane/Message.h"

namespace Orvane {
namespace Util {

template <class T>
class OpProcessor {
public:
    typedef boost::shared_ptr<Data::Message> MessagePtr;
    typedef Poco::Delegate<T, MessagePtr, true> OpDelegate;

    OpProcessor() : m_ops(100), m_ls(new Poco::LogStream(Poco::Logger::get("Processor"))) {}

    // The first registration of a name stays in force.
    void registerOperation(const std::string& name, const OpDelegate& delegate) {
        if (m_ops.count(name) == 0) {
            m_ops.emplace(name, std::unique_ptr<OpDelegate>(new OpDelegate(delegate)));
        }
    }

    bool hasOperation(const std::string& name) const { return m_ops.count(name) != 0; }
    std::size_t size() const { return m_ops.size(); }

    // True when the operation is registered, whatever its handler did.
    bool processOperation(MessagePtr& msg, bool quiet) {
        auto it = m_ops.find(msg->operation);
        if (it == m_ops.end()) {
            if (!quiet) {
                m_ls->error() << "OpProcessor: Dropping Unhandled Message : " << msg->operation
                              << std::endl;
            }
            return false;
        }
        invoke(*it->second, msg);
        return true;
    }

private:
    void invoke(OpDelegate& delegate, MessagePtr& msg) {
        try {
            delegate.notify(this, msg);
        } catch (const Poco::Exception& e) {
            m_ls->error() << "m_ls->error(): Caught unhandled Poco exception [" << e.message()
                          << "]" << std::endl;
        } catch (const std::exception& e) {
            m_ls->error() << "OpProcessor: Caught unhandled std exception [" << e.what() << "]"
                          << std::endl;
        } catch (...) {
            m_ls->error() << "OpProcessor: Unhandled Exception Processing : " << msg->operation
                          << std::endl;
        }
    }

    std::unordered_map<std::string, std::unique_ptr<OpDelegate>> m_ops;
    std::unique_ptr<Poco::LogStream> m_ls;
};

}  // namespace Util
}  // namespace Orvane
