#include "param_fields.h"

#include <cstdint>

#include "command_line.h"
#include "failure.h"

namespace qzctl {

void CheckField(const ParamField &field, const FieldValue &value) {
    const std::string problem = qz::FieldValueProblem(field, value);
    if (!problem.empty())
        throw UsageError(problem);
}

FieldValue ParseFieldValue(const ParamField &field, const std::string &text) {
    FieldValue value;
    if (field.kind == FieldKind::Ipv4)
        value = text;
    else
        value = ParseInteger(text, INT64_MIN, INT64_MAX, field.name);
    CheckField(field, value);
    return value;
}

void WriteParamField(const ParamField &field, qz::ConfigArea &block, const FieldValue &value) {
    CheckField(field, value);
    qz::WriteField(field, block, value);
}

} // namespace qzctl
