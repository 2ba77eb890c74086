// Whether the user asked the work under way to stop.
#pragma once

#include <memory>
#include <type_traits>

// A look at the caller's own stop check, handed to a call that may wait (a write to a full
// pipe) and asked now and then while it waits. It refers to the check without copying it and
// cannot be copied itself, nor made from a check that is about to go: it lives no longer than
// the call it is handed to, so nothing can ask the check once the caller has moved on.
class StopCheck {
public:
    // No check: a wait lasts as long as it takes.
    StopCheck() = default;
    // The caller's check: a callable that answers true to stop.
    template <class Check,
              class = std::enable_if_t<!std::is_same_v<std::remove_const_t<Check>, StopCheck>>>
    StopCheck(Check& check)
        : m_check(const_cast<void*>(static_cast<const void*>(std::addressof(check)))),
          m_ask(&Ask<Check>) {}
    template <class Check> StopCheck(const Check&&) = delete;
    StopCheck(const StopCheck&) = delete;
    StopCheck& operator=(const StopCheck&) = delete;

    // Whether there is a check to ask.
    explicit operator bool() const { return m_ask != nullptr; }
    // Whether the check asks to stop; never, without one.
    bool operator()() const { return m_ask && m_ask(m_check); }

private:
    template <class Check> static bool Ask(void* check) { return (*static_cast<Check*>(check))(); }

    void* m_check = nullptr;
    bool (*m_ask)(void*) = nullptr;
};
