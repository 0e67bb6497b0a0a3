// The start-up values of the settings date! and money! read, and the look-ups over them.
#include "datatypes/system_settings.hpp"

#include "core/cells.hpp"

namespace kov::system_settings {

namespace {

const char* const MONTHS[] = {"January", "February", "March",     "April",   "May",      "June",
                              "July",    "August",   "September", "October", "November", "December"};

const char* const CURRENCIES[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC",
    "BGN", "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF",
    "CHF", "CKD", "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD",
    "EGP", "ERN", "ETB", "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD",
    "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR",
    "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD",
    "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP",
    "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR",
    "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB", "PYG", "QAR", "KOV", "RON", "RSD", "RUB",
    "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN",
    "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX",
    "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER",
    "ZAR", "ZMW"};

char fold(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

}  // namespace

std::vector<std::string> months;
std::vector<std::string> currencies;
Cell money_digits = cells::make_integer(2);

void reset() {
    months.assign(std::begin(MONTHS), std::end(MONTHS));
    currencies.assign(std::begin(CURRENCIES), std::end(CURRENCIES));
    money_digits = cells::make_integer(2);
}

bool month_name(int32_t month, std::string_view& name) {
    if (month < 1 || size_t(month) > months.size()) return false;
    name = months[size_t(month) - 1];
    return true;
}

int32_t find_currency(std::string_view code) {
    for (size_t i = 0; i < currencies.size(); ++i) {
        const std::string& c = currencies[i];
        if (c.size() != code.size()) continue;
        bool same = true;
        for (size_t k = 0; k < c.size() && same; ++k) same = fold(c[k]) == fold(code[k]);
        if (same) return int32_t(i + 1);
    }
    return -1;
}

std::string_view currency_code(uint32_t index) {
    if (index == 0 || index > currencies.size()) return {};
    return currencies[index - 1];
}

}  // namespace kov::system_settings
