// The self-description inside an announcement, decoded and turned into the
// 34 rows of the information page.
//
// Input: the 255-byte description field (shorter input is padded with zeros).
// Checks: every field decoded little-endian from its offset, the 34 rows with
// their fixed headings, numbers that read back as the fields, and one of the
// known texts for every option code.
#include "fuzz_input.h"
#include "model/device_description.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using qz417::fuzz::Check;

constexpr std::size_t kDescriptionField = 255;

bool OneOf(const std::string &text, std::initializer_list<const char *> choices) {
    for (const char *choice : choices)
        if (text == choice)
            return true;
    return false;
}

// "<digits><suffix>" with no leading zero, optional minus sign; returns the value.
long long NumberRow(const std::string &row, const std::string &suffix) {
    Check(row.size() > suffix.size() && row.ends_with(suffix), "number row suffix");
    const std::string digits = row.substr(0, row.size() - suffix.size());
    std::size_t start = digits[0] == '-' ? 1 : 0;
    Check(start < digits.size(), "number row without digits");
    for (std::size_t i = start; i < digits.size(); ++i)
        Check(digits[i] >= '0' && digits[i] <= '9', "number row digit");
    Check(digits.size() - start == 1 || digits[start] != '0', "number row leading zero");
    return std::stoll(digits);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qz417::fuzz::FuzzInput in(data, size);
    // Exactly the description field on the heap: a read beyond it is caught.
    auto field = std::make_unique<std::uint8_t[]>(kDescriptionField);
    std::memset(field.get(), 0, kDescriptionField);
    const auto bytes = in.bytes(kDescriptionField);
    if (!bytes.empty())
        std::memcpy(field.get(), bytes.data(), bytes.size());
    const std::uint8_t *b = field.get();

    const qz417::DeviceDescription d = qz417::DecodeDescription(b);
    Check(d.modification == b[0], "modification");
    Check(d.serialNumber == (b[1] | (b[2] << 8) | (std::uint32_t(b[3]) << 16)), "serial number");
    Check(d.serialNumber <= 0xFFFFFFu, "serial number width");
    Check(d.baseDistance == (b[4] | (b[5] << 8)), "base distance");
    Check(d.rangeZ == (b[6] | (b[7] << 8)), "range Z");
    Check(d.rangeXSmr == (b[8] | (b[9] << 8)), "range X SMR");
    Check(d.rangeXEmr == (b[10] | (b[11] << 8)), "range X EMR");
    Check(d.discreteValue == (b[12] | (b[13] << 8)), "discrete value");
    Check(d.errorValue == static_cast<std::int16_t>(b[14] | (b[15] << 8)), "error value");
    Check(d.firmwareVersion ==
              (b[16] | (b[17] << 8) | (b[18] << 16) | (std::uint32_t(b[19]) << 24)),
          "firmware version");

    const std::vector<std::string> rows = qz417::DescriptionRows(d);
    Check(rows.size() == 34, "row count");
    Check(rows[0] == "DEVICE MODIFICATION" && rows[1] == "Interface:", "heading rows");
    Check(rows[2] == ((b[0] & 2) ? "Ethernet." : "rs485."), "interface row");
    Check(rows[4] == ((b[0] & 1) ? "external, internal;" : "internal;"), "result sync row");
    Check(rows[6] == ((b[0] & 4) ? "external, internal;" : "internal;"), "measure sync row");
    const unsigned analog = (b[0] >> 3) & 3u;
    if (analog < 3)
        Check(rows[8] == (analog == 0   ? "not present;"
                          : analog == 1 ? "voltage;"
                                        : "current;"),
              "analog row");
    else
        Check(!OneOf(rows[8], {"not present;", "voltage;", "current;"}) && !rows[8].empty(),
              "undefined analog code shown as a known one");
    const unsigned modulation = (b[0] >> 5) & 3u;
    if (modulation < 2)
        Check(rows[10] == (modulation == 0 ? "not present;" : "present;"), "modulation row");
    else
        Check(!OneOf(rows[10], {"not present;", "present;"}) && !rows[10].empty(),
              "undefined modulation code shown as a known one");
    Check(rows[11].empty() && rows[14].empty() && rows[24].empty() && rows[30].empty(),
          "empty rows");
    Check(rows[12] == "SERIAL NUMBER" && rows[15] == "MEASURING RANGE" &&
              rows[25] == "DISCRETE TRANSFORMATION" && rows[31] == "FIRMWARE",
          "section rows");
    Check(NumberRow(rows[13], ";") == d.serialNumber, "serial number row");
    Check(NumberRow(rows[17], " mm.;") == d.baseDistance, "base row");
    Check(NumberRow(rows[19], " mm.;") == d.rangeZ, "range Z row");
    Check(NumberRow(rows[21], " mm.;") == d.rangeXSmr, "range X SMR row");
    Check(NumberRow(rows[23], " mm.;") == d.rangeXEmr, "range X EMR row");
    Check(NumberRow(rows[27], ";") == d.discreteValue, "discrete value row");
    Check(NumberRow(rows[29], ";") == d.errorValue, "error value row");
    Check(NumberRow(rows[33], ".") == d.firmwareVersion, "version row");
    for (const std::string &row : rows)
        Check(row.find('\n') == std::string::npos && row.find('\r') == std::string::npos,
              "line break inside a row");
    return 0;
}
