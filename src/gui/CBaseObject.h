// Reference counting shared by views, bitmaps and draw contexts.
#pragma once

#include <atomic>

namespace VSTGUI {

// Starts with one reference owned by the creator; forget() releases one and
// destroys the object when none is left.
class CBaseObject {
  public:
    CBaseObject() = default;
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject() = default;

    virtual void forget() {
        if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    virtual void remember() { refCount_.fetch_add(1, std::memory_order_relaxed); }
    // Answers false: the base object handles no message.
    virtual bool notify(CBaseObject* /*sender*/, const char* /*message*/) { return false; }

    int getNbReference() const { return refCount_.load(std::memory_order_relaxed); }

  private:
    std::atomic<int> refCount_{1};
};

// Holds one counted reference; releases it when replaced or destroyed.
template <class T>
class SharedPointer {
  public:
    SharedPointer() = default;
    explicit SharedPointer(T* object, bool takeReference = true) : object_(object) {
        if (object_ != nullptr && takeReference) object_->remember();
    }
    SharedPointer(const SharedPointer& other) : SharedPointer(other.object_) {}
    SharedPointer& operator=(const SharedPointer& other) {
        reset(other.object_);
        return *this;
    }
    ~SharedPointer() { reset(nullptr); }
    void reset(T* object) {
        if (object == object_) return;
        if (object != nullptr) object->remember();
        T* old = object_;
        object_ = object;
        if (old != nullptr) old->forget();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    T* object_ = nullptr;
};

}  // namespace VSTGUI
