#pragma once

#include <cstdint>
#include <cstdio>
#include <new>

class CPdfXrefTable;

// Base of every piece of an output PDF file. Each object writes its own PDF text to an open
// file and recurses into its children; the model is write-only.
class CPdfObject {
 public:
  virtual ~CPdfObject() = default;
  // Writes the object's PDF form at the file's current position. The table is handed down to
  // the children unchanged; only indirect objects record themselves in it.
  virtual void Write(std::FILE* file, CPdfXrefTable* xref) = 0;
  virtual bool IsStream() const { return false; }

  CPdfObject(const CPdfObject&) = delete;
  CPdfObject& operator=(const CPdfObject&) = delete;

 protected:
  CPdfObject() = default;
};

// The owning list behind arrays, dictionaries and the model's internal lists. It grows by
// 1024 slots at a time; when growing fails, the object that was to be added is destroyed and
// the list stays as it was. Destroying the list destroys its elements.
template <class T>
class CPdfList {
 public:
  static constexpr std::int32_t kGrowthStep = 1024;

  CPdfList() = default;
  CPdfList(const CPdfList&) = delete;
  CPdfList& operator=(const CPdfList&) = delete;
  ~CPdfList() {
    for (std::int32_t i = 0; i < count; ++i) delete items[i];
    delete[] items;
  }

  std::int32_t Count() const { return count; }
  T* GetAt(std::int32_t index) const {
    return index >= 0 && index < count ? items[index] : nullptr;
  }
  T* const* begin() const { return items; }
  T* const* end() const { return items + count; }

  // Appends object and takes it over. A null object is ignored; false when it was not added.
  bool Add(T* object) { return Insert(count, object); }
  bool InsertFirst(T* object) { return Insert(0, object); }

  // Destroys the element at index and stores object (taken over) in its place. An index
  // outside the list is ignored, and object is destroyed.
  void SetAt(std::int32_t index, T* object) {
    if (index < 0 || index >= count) {
      delete object;
      return;
    }
    delete items[index];
    items[index] = object;
  }

  // Destroys the elements from index `keep` on.
  void Truncate(std::int32_t keep) {
    for (; count > keep && count > 0; --count) delete items[count - 1];
  }

  // Destroys the element at index and closes the gap; an index outside the list is ignored.
  void RemoveAt(std::int32_t index) { delete Release(index); }

  // Takes the element at index out of the list without destroying it and closes the gap; null
  // for an index outside the list. The caller owns the element afterwards.
  T* Release(std::int32_t index) {
    if (index < 0 || index >= count) return nullptr;
    T* released = items[index];
    for (std::int32_t i = index + 1; i < count; ++i) items[i - 1] = items[i];
    --count;
    return released;
  }

  // Grows the list now so that `more` elements can be added without growing; false when memory
  // is short (the list is unchanged then).
  bool Reserve(std::int32_t more) {
    while (capacity - count < more) {
      if (!Grow()) return false;
    }
    return true;
  }

  // Appends every element of other, in order, and leaves other empty. False when memory is
  // short; nothing moves then.
  bool TakeAll(CPdfList& other) {
    if (!Reserve(other.count)) return false;
    for (std::int32_t i = 0; i < other.count; ++i) items[count++] = other.items[i];
    other.count = 0;
    return true;
  }

 private:
  bool Insert(std::int32_t index, T* object) {
    if (!object) return false;
    if (count == capacity && !Grow()) {
      delete object;
      return false;
    }
    for (std::int32_t i = count; i > index; --i) items[i] = items[i - 1];
    items[index] = object;
    ++count;
    return true;
  }

  bool Grow() {
    if (capacity > INT32_MAX - kGrowthStep) return false;
    T** grown = new (std::nothrow) T*[capacity + kGrowthStep];
    if (!grown) return false;
    for (std::int32_t i = 0; i < count; ++i) grown[i] = items[i];
    delete[] items;
    items = grown;
    capacity += kGrowthStep;
    return true;
  }

  T** items = nullptr;
  std::int32_t capacity = 0;
  std::int32_t count = 0;
};
