// The few settings of the system object that date! and money! read: the month names of the
// locale, its list of currency codes and the options' money-digits. Until the system object
// exists, they are held here as plain C++ data set up at start-up; this is the one place date!
// and money! read them from, so that switching to the system object's fields changes only this
// module. Tests may change the values and call reset() to put the start-up values back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.hpp"

namespace kov::system_settings {

// locale/months: "January" ... "December". A missing entry makes forming a date of that month
// fail.
extern std::vector<std::string> months;
// locale/currencies/list: the codes in their order; a money! value holds a 1-based position in it.
extern std::vector<std::string> currencies;
// options/money-digits: how many fraction digits money! shows (used only when it is an integer!).
extern Cell money_digits;

// Puts the start-up values back.
void reset();

// The month name of month 1..12, or false when the list has no usable entry for it.
bool month_name(int32_t month, std::string_view& name);
// The 1-based position of a currency code, case ignored (ASCII codes), or -1.
int32_t find_currency(std::string_view code);
// The code at a 1-based position ("" for 0 or a position past the list).
std::string_view currency_code(uint32_t index);

}  // namespace kov::system_settings
