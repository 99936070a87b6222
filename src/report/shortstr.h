// Fixed-capacity text: a length and at most Cap bytes of code page 1252.
// Every assignment cuts the text to the capacity, as the record fields and
// message-table entries of the program require.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torv {

template <std::size_t Cap>
class PStr {
  static_assert(Cap >= 1 && Cap <= 255, "a short string holds 1 to 255 characters");

 public:
  static constexpr std::size_t kCapacity = Cap;

  constexpr PStr() = default;
  constexpr PStr(std::string_view s) { assign(s); }  // NOLINT: implicit on purpose
  constexpr PStr(const char* s) { assign(std::string_view(s)); }  // NOLINT

  constexpr PStr& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  constexpr PStr& operator=(const char* s) {
    assign(std::string_view(s));
    return *this;
  }

  constexpr void assign(std::string_view s) {
    len_ = static_cast<std::uint8_t>(std::min(s.size(), Cap));
    for (std::size_t i = 0; i < Cap; ++i) buf_[i] = i < len_ ? s[i] : '\0';
  }

  constexpr std::string_view view() const { return std::string_view(buf_.data(), len_); }
  std::string str() const { return std::string(view()); }
  constexpr operator std::string_view() const { return view(); }  // NOLINT
  constexpr std::size_t size() const { return len_; }
  constexpr bool empty() const { return len_ == 0; }
  constexpr char operator[](std::size_t i) const { return buf_[i]; }

  friend constexpr bool operator==(const PStr& a, std::string_view b) { return a.view() == b; }
  friend constexpr bool operator==(const PStr& a, const PStr& b) { return a.view() == b.view(); }
  friend constexpr bool operator==(const PStr& a, const char* b) {
    return a.view() == std::string_view(b);
  }

 private:
  std::uint8_t len_ = 0;
  std::array<char, Cap> buf_{};
};

// The general short string: at most 255 characters.
using ShortString = PStr<255>;

// Text joined from pieces and cut to a capacity (255 unless told).
inline std::string Cut(std::string_view s, std::size_t cap = 255) {
  return std::string(s.substr(0, std::min(s.size(), cap)));
}

}  // namespace torv
