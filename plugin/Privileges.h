#pragma once
#include <windows.h>

// Turns one privilege of token on or off, keeping the privilege's other
// attribute bits. False when the privilege is unknown or the token lacks it.
bool SetTokenPrivilege(HANDLE token, const wchar_t* privilege, bool enable);

// Runs an attempt until it has once succeeded, then skips it. A failed
// attempt is made again on the next run.
class UntilSucceeded {
public:
    template <typename Attempt>
    void Run(Attempt attempt)
    {
        if (!succeeded_) succeeded_ = attempt();
    }
    bool Succeeded() const { return succeeded_; }

private:
    bool succeeded_ = false;
};

// Asks for SeDebugPrivilege in this process's token, every time. True when
// the token has it enabled afterwards.
bool RequestDebugPrivilege();

// RequestDebugPrivilege until it has once succeeded in this process: an
// enabled privilege stays enabled in the token, so later calls skip the
// step. Failure is silent: the caller goes on without the privilege.
void EnableDebugPrivilege();

// Whether EnableDebugPrivilege has succeeded in this process, and so skips
// its step from now on.
bool DebugPrivilegeTaken();
