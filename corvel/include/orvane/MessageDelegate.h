// A message-event delegate that calls its receiver without holding a lock.
// Poco's own delegate serialises every call through one mutex, which would
// let only one deferred worker run a service at a time; services that take
// this delegate guard their own shared state instead. Thread-safe: disable()
// may race with notify() and the receiver is read atomically.
#pragma once

#include <Poco/AbstractDelegate.h>
#include <boost/shared_ptr.hpp>

#include <atomic>

#include "orvane/Message.h"

namespace Orvane {
namespace System {

template <class TObj>
class MessageDelegate : public Poco::AbstractDelegate<boost::shared_ptr<Data::Message>> {
public:
    typedef boost::shared_ptr<Data::Message> Args;
    typedef void (TObj::*NotifyMethod)(const void*, Args&);

    MessageDelegate(TObj* obj, NotifyMethod method) : m_receiver(obj), m_method(method) {}
    MessageDelegate(const MessageDelegate& other)
        : Poco::AbstractDelegate<Args>(other), m_receiver(other.m_receiver.load()),
          m_method(other.m_method) {}

    bool notify(const void* sender, Args& arguments) override {
        TObj* receiver = m_receiver.load();
        if (!receiver) return false;
        (receiver->*m_method)(sender, arguments);
        return true;
    }

    bool equals(const Poco::AbstractDelegate<Args>& other) const override {
        const MessageDelegate* o = dynamic_cast<const MessageDelegate*>(other.unwrap());
        return o && o->m_receiver.load() == m_receiver.load() && o->m_method == m_method;
    }

    Poco::AbstractDelegate<Args>* clone() const override { return new MessageDelegate(*this); }
    void disable() override { m_receiver.store(nullptr); }

private:
    std::atomic<TObj*> m_receiver;
    NotifyMethod m_method;
};

template <class TObj>
MessageDelegate<TObj> messageDelegate(TObj* obj,
                                      typename MessageDelegate<TObj>::NotifyMethod method) {
    return MessageDelegate<TObj>(obj, method);
}

}  // namespace System
}  // namespace Orvane
