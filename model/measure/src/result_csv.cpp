#include "model/measure/result_csv.h"

#include <charconv>

namespace qz417::measure {

std::string CsvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string CsvNumber(double value) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 7);
    return std::string(text, r.ptr);
}

std::string ResultCsvHeader(const Job &job) {
    std::string header = "profile,measurement";
    for (const auto &t : job.tools) {
        const auto &info = InfoOf(t.kind);
        for (int k = 0; k < info.outputCount; ++k)
            header += "," + CsvField(t.name + "." + info.outputs[static_cast<std::size_t>(k)].name);
        header += "," + CsvField(t.name + ".state");
    }
    return header + ",passed\n";
}

void AppendResultCsvRow(std::string &line, const Job &job, std::uint64_t profile,
                        std::uint16_t measurement, const JobResult &result) {
    line += std::to_string(profile);
    line += ',';
    line += std::to_string(measurement);
    for (std::size_t t = 0; t < result.tools.size() && t < job.tools.size(); ++t) {
        const auto &tr = result.tools[t];
        const auto &info = InfoOf(job.tools[t].kind);
        for (int k = 0; k < info.outputCount; ++k) {
            line += ',';
            if (tr.ok)
                line += CsvNumber(tr.values[static_cast<std::size_t>(k)]);
        }
        line += ',';
        line += tr.ok ? (tr.passed ? "pass" : "fail")
                      : CsvField(std::string("no result: ") + (tr.reason ? tr.reason : ""));
    }
    line += result.passed ? ",1\n" : ",0\n";
}

} // namespace qz417::measure
