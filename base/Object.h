// CObject: the root of the program's classes, carrying the run-time class
// name that log entries show and that callbacks test before they cast a
// context back to the object that registered it.
#pragma once

class CObject {
public:
    virtual ~CObject() = default;
    // The class name as it appears in log entries.
    virtual const char* GetRuntimeClassName() const { return "CObject"; }

    // Kind-of test of a context pointer handed back by a callback.
    template <class T>
    static T* DownCast(CObject* object) {
        return dynamic_cast<T*>(object);
    }
    template <class T>
    bool IsKindOf() const {
        return dynamic_cast<const T*>(this) != nullptr;
    }
};

// Declares the run-time class name of a class derived from CObject.
#define KORVA_RUNTIME_CLASS(name) \
    const char* GetRuntimeClassName() const override { return #name; }
