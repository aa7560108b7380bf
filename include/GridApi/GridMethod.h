#pragma once

#include <boost/noncopyable.hpp>

#include <GridApi/ErrorStatus.h>
#include <GridApi/Export.h>
#include <StravoHost/FileServicesIf.h>

namespace GridApi {

// The waiting function that a command's run receives (a copy of the server's retryWaiter).
typedef StravoStorageApi::RetryWaiter RetryWaiter;

// Base of every command: one object per call, built on the stack, run once, destroyed.
struct GRIDAPI_API GridMethod : private boost::noncopyable {
    virtual ~GridMethod();
    // Runs the command; the waiting function is taken by value and consumed by the run.
    virtual ErrorStatus operator()(RetryWaiter waiter) = 0;
};

}  // namespace GridApi

// What every command declares besides its constructor and members: the destructor, the run (public)
// and the one attempt (protected; the run calls it). Written in the class's public section, it
// leaves that section public again: the members after it say their own access.
#define GRIDAPI_COMMAND(Name)                                                  \
  public:                                                                      \
    ~Name() override;                                                          \
    ::GridApi::ErrorStatus operator()(::GridApi::RetryWaiter waiter) override; \
                                                                               \
  protected:                                                                   \
    ::GridApi::ErrorStatus doOnce();                                           \
                                                                               \
  public:
