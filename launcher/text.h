// Bounded text operations on fixed buffers; core code, no OS headers beyond what callers include.
#pragma once

#include <stddef.h>

// Each returns false, and leaves a NUL-terminated prefix, when the result would not fit capacity
// (the buffer size, NUL included); nothing is ever written beyond the buffer.
inline size_t TextLength(const char* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

inline bool TextAppend(char* buffer, size_t capacity, const char* tail) {
  size_t n = 0;
  while (n < capacity && buffer[n] != 0) ++n;
  if (n == capacity) return false;
  for (size_t i = 0; tail[i] != 0; ++i) {
    if (n + 1 >= capacity) {
      buffer[n] = 0;
      return false;
    }
    buffer[n++] = tail[i];
  }
  buffer[n] = 0;
  return true;
}

inline bool TextAppendChar(char* buffer, size_t capacity, char c) {
  char tail[2] = {c, 0};
  return TextAppend(buffer, capacity, tail);
}

inline bool TextCopy(char* buffer, size_t capacity, const char* source) {
  if (capacity == 0) return false;
  buffer[0] = 0;
  return TextAppend(buffer, capacity, source);
}

inline bool TextEqual(const char* a, const char* b) {
  size_t i = 0;
  for (; a[i] != 0 && a[i] == b[i]; ++i) {
  }
  return a[i] == b[i];
}

// Decimal digits of a positive number.
inline void FormatDecimal(char* out, unsigned long value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  int k = 0;
  while (n > 0) out[k++] = digits[--n];
  out[k] = 0;
}
