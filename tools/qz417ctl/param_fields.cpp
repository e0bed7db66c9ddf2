#include "param_fields.h"

#include <cstdint>

#include "command_line.h"
#include "failure.h"

namespace qz417::ctl {

void CheckField(const ParamField &field, const FieldValue &value) {
    const std::string problem = qz417::FieldValueProblem(field, value);
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

void WriteParamField(const ParamField &field, qz417::ConfigArea &block, const FieldValue &value) {
    CheckField(field, value);
    qz417::WriteField(field, block, value);
}

} // namespace qz417::ctl
