#pragma once
#include <objbase.h>

// COM for the current thread for as long as the scope lives. Only a
// successful CoInitialize is balanced with CoUninitialize: undoing an
// initialisation that was refused would tear down someone else's.
class ComInitialization {
public:
    ComInitialization() : result_(CoInitialize(nullptr)) {}
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;
    ~ComInitialization()
    {
        if (SUCCEEDED(result_)) CoUninitialize();
    }

private:
    HRESULT result_;
};
