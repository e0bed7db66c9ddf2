// qz417model-fields: the parameter block's field table as JSON on stdout,
// one object per field in block order.
#include <iostream>

#include <nlohmann/json.hpp>

#include "model/config_area.h"
#include "model/parameter_fields.h"

namespace {

const char *KindName(qz417::FieldKind kind) {
    switch (kind) {
    case qz417::FieldKind::U8:
        return "u8";
    case qz417::FieldKind::U16:
        return "u16";
    case qz417::FieldKind::I16:
        return "i16";
    case qz417::FieldKind::Bit:
        return "bit";
    case qz417::FieldKind::Ipv4:
        return "ipv4";
    }
    return "";
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1) {
        std::cerr << "usage: " << argv[0] << "\n"
                  << "Prints the parameter block's fields as JSON: name, kind, offset, width, "
                     "bit, min, max, unit, caption.\n";
        return 2;
    }
    nlohmann::ordered_json doc;
    doc["blockSize"] = qz417::ConfigArea::kSize;
    nlohmann::ordered_json fields = nlohmann::ordered_json::array();
    for (const qz417::ParameterField &f : qz417::ParameterFields()) {
        nlohmann::ordered_json row;
        row["name"] = f.name;
        row["kind"] = KindName(f.kind);
        row["offset"] = f.offset;
        row["width"] = f.width;
        if (f.bit >= 0)
            row["bit"] = f.bit;
        else
            row["bit"] = nullptr;
        row["min"] = f.min;
        row["max"] = f.max;
        row["unit"] = f.unit;
        row["caption"] = f.caption;
        fields.push_back(std::move(row));
    }
    doc["fields"] = std::move(fields);
    std::cout << doc.dump(2) << "\n";
    return std::cout.good() ? 0 : 1;
}
