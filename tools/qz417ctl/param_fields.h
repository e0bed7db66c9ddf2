// The parameter block's named fields as the tool's commands use them: the
// table and the encodings are the model's (model/parameter_fields.h); this
// adds the parsing of command-line values and the tool's usage errors.
#pragma once

#include <string>

#include "model/parameter_fields.h"

namespace qz417::ctl {

using ParamField = qz417::ParameterField;
using qz417::FieldKind;
using qz417::FieldMeaning;
using qz417::FieldValue;
using qz417::FieldValueText;
using qz417::ReadField;

inline auto ParamFields() {
    return qz417::ParameterFields();
}
// Null when unknown.
inline const ParamField *FindParamField(const std::string &name) {
    return qz417::FindParameterField(name);
}

// Throws UsageError when the value is malformed or out of the field's range.
void CheckField(const ParamField &field, const FieldValue &value);
// Parses "31", "-16384" or "192.168.1.30" for the field and checks it.
FieldValue ParseFieldValue(const ParamField &field, const std::string &text);
// Writes a checked value into the field's own bits or bytes (UsageError otherwise).
void WriteParamField(const ParamField &field, qz417::ConfigArea &block, const FieldValue &value);

// The unit with the range: "us - 1 (0..65535)".
inline std::string FieldUnit(const ParamField &field) {
    return qz417::FieldUnitText(field);
}

} // namespace qz417::ctl
