#include "capture.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<TInputFormat, std::string_view>, 8> FormatNames = {{
    {TInputFormat::ifAuto, "auto"},
    {TInputFormat::ifHex, "hex"},
    {TInputFormat::ifCsv, "csv"},
    {TInputFormat::ifSaleaeTable, "saleae-table"},
    {TInputFormat::ifSaleaeSpi, "saleae-spi"},
    {TInputFormat::ifSaleaeBiss, "saleae-biss"},
    {TInputFormat::ifSigrok, "sigrok"},
    {TInputFormat::ifBinary, "binary"},
}};

} // namespace

std::string_view InputFormatName(TInputFormat format) {
    for (const auto& [f, name] : FormatNames) {
        if (f == format) {
            return name;
        }
    }
    return "unknown";
}

bool ParseInputFormatName(std::string_view name, TInputFormat& format) {
    for (const auto& [f, known] : FormatNames) {
        if (known == name) {
            format = f;
            return true;
        }
    }
    return false;
}
