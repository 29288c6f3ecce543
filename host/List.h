#pragma once

#include <cstring>

#include "Alloc.h"
#include "Log.h"

// Name of an element type in List's out-of-range report.
template <typename T>
struct ListTypeName {
    static const char* Get() { return "T"; }
};
template <>
struct ListTypeName<float> {
    static const char* Get() { return "float"; }
};
template <>
struct ListTypeName<int> {
    static const char* Get() { return "int"; }
};
template <>
struct ListTypeName<unsigned> {
    static const char* Get() { return "unsigned int"; }
};

// Growable array of plain values over MainAllocator. Adding grows the storage by exactly one
// element through ReAllocate. Indexing past the end is a fatal programming error (DumpError).
// Not copyable: it owns its storage.
template <typename T>
class List {
public:
    List() = default;
    ~List() { Clear(); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    unsigned Num() const { return num_; }
    T* Array() { return array_; }
    const T* Array() const { return array_; }
    bool HasStorage() const { return array_ != nullptr; }

    // Appends one element. Returns false, leaving the list as it was, when no memory is to be had.
    bool Add(const T& value) {
        void* grown =
            MainAllocator->ReAllocate(array_, (static_cast<size_t>(num_) + 1) * sizeof(T));
        if (!grown)
            return false;
        array_ = static_cast<T*>(grown);
        std::memcpy(static_cast<void*>(&array_[num_]), &value, sizeof(T));
        ++num_;
        return true;
    }

    // Frees the storage; the list is empty afterwards.
    void Clear() {
        MainAllocator->Free(array_);
        array_ = nullptr;
        num_ = 0;
    }

    T& operator[](unsigned index) {
        if (index >= num_)
            DumpError(L"Out of range!  List<%S>::operator[](%d)", ListTypeName<T>::Get(),
                      static_cast<int>(index));
        return array_[index];
    }
    const T& operator[](unsigned index) const { return const_cast<List&>(*this)[index]; }

private:
    T* array_ = nullptr;
    unsigned num_ = 0;
};
