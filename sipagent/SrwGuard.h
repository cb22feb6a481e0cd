// Scoped holds of an SRW lock, one class per way of holding it: every lock
// of the agent plug-in is taken through these, so that no path can leave a
// lock held.
#pragma once

#include <windows.h>

// Holds an SRW lock exclusively for a scope.
class CSrwExclusive {
 public:
  explicit CSrwExclusive(SRWLOCK &lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
  ~CSrwExclusive() { ReleaseSRWLockExclusive(&m_lock); }
  CSrwExclusive(const CSrwExclusive &) = delete;
  CSrwExclusive &operator=(const CSrwExclusive &) = delete;

 private:
  SRWLOCK &m_lock;
};

// Holds an SRW lock shared (readers only) for a scope.
class CSrwShared {
 public:
  explicit CSrwShared(SRWLOCK &lock) : m_lock(lock) { AcquireSRWLockShared(&m_lock); }
  ~CSrwShared() { ReleaseSRWLockShared(&m_lock); }
  CSrwShared(const CSrwShared &) = delete;
  CSrwShared &operator=(const CSrwShared &) = delete;

 private:
  SRWLOCK &m_lock;
};
