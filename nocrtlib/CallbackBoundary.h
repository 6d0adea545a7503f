#pragma once
#include <exception>
#include <utility>

// Windows calls some of this program's functions from its own DLLs: window
// and dialog procedures, thread routines, service main and control handlers,
// enumeration and stream callbacks. An exception must never unwind through
// such a DLL's frames: the 32-bit build unwinds with DWARF tables, which
// system DLLs lack, and the process would end on the spot. So each such
// function runs its body through a boundary that keeps the exception (the
// first one, if several callbacks fail), and whoever called the API rethrows
// it once the API has returned.
class CallbackBoundary {
public:
    CallbackBoundary() = default;
    CallbackBoundary(const CallbackBoundary&) = delete;
    CallbackBoundary& operator=(const CallbackBoundary&) = delete;

    // Runs `body` and returns its result; on any exception keeps it and
    // returns `onFailure`, the answer that makes Windows stop calling back.
    template <class R, class F>
    R Run(R onFailure, F&& body) noexcept
    {
        try {
            return std::forward<F>(body)();
        } catch (...) {
            Keep();
            return onFailure;
        }
    }

    // For callbacks without a result.
    template <class F>
    void Run(F&& body) noexcept
    {
        try {
            std::forward<F>(body)();
        } catch (...) {
            Keep();
        }
    }

    bool Failed() const { return static_cast<bool>(pending_); }

    // Rethrows the exception kept, if any; the boundary is clear afterwards.
    void Rethrow()
    {
        if (pending_) {
            std::exception_ptr e = std::move(pending_);
            pending_ = nullptr;
            std::rethrow_exception(e);
        }
    }

private:
    void Keep() noexcept
    {
        if (!pending_)
            pending_ = std::current_exception();
    }

    std::exception_ptr pending_;
};
