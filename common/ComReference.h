#pragma once
#include <unknwn.h>

#include <utility>

// Owns one reference to a COM object; releases it on every path out.
template <typename Interface>
class ComReference {
public:
    ComReference() = default;
    // Takes over a reference the caller already holds.
    explicit ComReference(Interface* object) : object_(object) {}
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;
    ComReference(ComReference&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComReference& operator=(ComReference&& other) noexcept { reset(std::exchange(other.object_, nullptr)); return *this; }
    ~ComReference() { reset(); }

    Interface* get() const { return object_; }
    Interface* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Releases the current object and takes over a reference to the new one.
    void reset(Interface* object = nullptr)
    {
        if (object_) object_->Release();
        object_ = object;
    }
    // Adds a reference of its own to an object it is lent.
    void share(Interface* object)
    {
        if (object) object->AddRef();
        reset(object);
    }

private:
    Interface* object_ = nullptr;
};
