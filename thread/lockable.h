// The lock interface of the program and its recursive implementation.
#pragma once

#include <mutex>

namespace morix {

class ILockable {
  public:
    virtual void Lock() = 0;
    virtual void Unlock() = 0;

  protected:
    // Locks are never destroyed through this interface.
    ~ILockable() = default;
};

// A lock that its owning thread may take again; every Lock needs its Unlock.
class JCriticalSection final : public ILockable {
  public:
    JCriticalSection() = default;
    JCriticalSection(const JCriticalSection&) = delete;
    JCriticalSection& operator=(const JCriticalSection&) = delete;

    void Lock() override { mutex_.lock(); }
    void Unlock() override { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;
};

// Holds a lock for the lifetime of a scope.
class JAutoLock {
  public:
    explicit JAutoLock(ILockable& lock) : lock_(lock) { lock_.Lock(); }
    ~JAutoLock() { lock_.Unlock(); }
    JAutoLock(const JAutoLock&) = delete;
    JAutoLock& operator=(const JAutoLock&) = delete;

  private:
    ILockable& lock_;
};

}  // namespace morix
