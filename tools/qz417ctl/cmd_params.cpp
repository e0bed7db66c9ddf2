// qz417ctl params: read, change, store, reset, save and restore the
// scanner's 512-byte parameter block. The block always travels whole; a
// change touches only the named fields and carries every other byte back.
#include <cstdio>
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "failure.h"
#include "file_io.h"
#include "model/params_file.h"
#include "param_fields.h"
#include "scanner_connection.h"

namespace qz417::ctl {

namespace {

using qz417::FieldsJson;
using qz417::ParamBlock;
using qz417::SaveParamsDocument;
static_assert(sizeof(ParamBlock) == QZ417_CONFIG_SIZE);

constexpr const char *kHelp =
    "usage: qz417ctl params get ADDR [--json]\n"
    "       qz417ctl params set ADDR NAME=VALUE...\n"
    "       qz417ctl params store ADDR\n"
    "       qz417ctl params defaults ADDR\n"
    "       qz417ctl params save ADDR FILE\n"
    "       qz417ctl params load ADDR FILE\n"
    "\n"
    "  get       every interpreted field of the parameter block: name, value, unit\n"
    "  set       change fields (checked against their ranges) and write the whole block;\n"
    "            bytes no field describes are written back unchanged\n"
    "  store     make the scanner keep its current block permanently\n"
    "  defaults  make the scanner return to its default block\n"
    "  save      write the block to FILE: JSON with the named fields and all 512 bytes\n"
    "  load      write the block of FILE to the scanner (fields edited in the file are\n"
    "            applied on top of its bytes)\n";
constexpr const char *kHelpEnd =
    "Addresses (netAddress, netMask, udpAddress) are written dotted: udpAddress=127.0.0.1.\n"
    "Numbers are decimal (010 is ten), or hexadecimal after 0x.\n"
    "Run 'qz417ctl params get ADDR' for the names, units and ranges.\n";

void PrintFields(const ParamBlock &block) {
    const qz417::ConfigArea area(block.data());
    for (const ParamField &f : ParamFields()) {
        const FieldValue value = ReadField(f, area);
        std::string meaning = FieldMeaning(f, value);
        std::string unit = FieldUnit(f);
        if (!meaning.empty())
            unit = meaning + "; " + unit;
        char line[160];
        std::snprintf(line, sizeof line, "%-20s %-16s %s", f.name, FieldValueText(value).c_str(),
                      unit.c_str());
        std::cout << line << "\n";
    }
}

int Get(const CommandLine &cl) {
    cl.expectPositional(2, "qz417ctl params get ADDR [--json]");
    const Ipv4 ip = ParseIpv4(cl.positional()[1]);
    ScannerConnection scanner(ip, ReadConnectOptions(cl));
    const ParamBlock block = scanner.readParams();
    if (cl.has("json"))
        std::cout << FieldsJson(scanner.address(), block);
    else
        PrintFields(block);
    return kExitOk;
}

int Set(const CommandLine &cl) {
    const auto &words = cl.positional();
    if (words.size() < 3)
        throw UsageError("missing argument; usage: qz417ctl params set ADDR NAME=VALUE...");
    const Ipv4 ip = ParseIpv4(words[1]);
    // Check every assignment before talking to the scanner.
    std::vector<std::pair<const ParamField *, FieldValue>> changes;
    for (std::size_t i = 2; i < words.size(); ++i) {
        const auto eq = words[i].find('=');
        if (eq == std::string::npos)
            throw UsageError("'" + words[i] + "' is not NAME=VALUE");
        const std::string name = words[i].substr(0, eq);
        const ParamField *field = FindParamField(name);
        if (field == nullptr)
            throw UsageError("unknown parameter '" + name + "' (see 'qz417ctl params get ADDR')");
        changes.emplace_back(field, ParseFieldValue(*field, words[i].substr(eq + 1)));
    }
    ScannerConnection scanner(ip, ReadConnectOptions(cl));
    const ParamBlock before = scanner.readParams();
    qz417::ConfigArea area(before.data());
    for (const auto &[field, value] : changes)
        WriteParamField(*field, area, value);
    ParamBlock after{};
    std::copy(area.bytes().begin(), area.bytes().end(), after.begin());
    scanner.writeParams(after);
    return kExitOk;
}

int Flush(const CommandLine &cl, int mode) {
    cl.expectPositional(2, mode == QZ417_FLUSH_STORE ? "qz417ctl params store ADDR"
                                                     : "qz417ctl params defaults ADDR");
    ScannerConnection scanner(ParseIpv4(cl.positional()[1]), ReadConnectOptions(cl));
    scanner.flushParams(mode);
    return kExitOk;
}

int Save(const CommandLine &cl) {
    cl.expectPositional(3, "qz417ctl params save ADDR FILE");
    ScannerConnection scanner(ParseIpv4(cl.positional()[1]), ReadConnectOptions(cl));
    const ParamBlock block = scanner.readParams();
    WriteFile(cl.positional()[2], SaveParamsDocument(scanner.address(), block));
    return kExitOk;
}

int Load(const CommandLine &cl) {
    cl.expectPositional(3, "qz417ctl params load ADDR FILE");
    const Ipv4 ip = ParseIpv4(cl.positional()[1]);
    const std::string &path = cl.positional()[2];
    ParamBlock block{};
    try {
        block = qz417::LoadParamsDocument(ReadTextFile(path), path);
    } catch (const qz417::ParamsFileError &e) {
        throw UsageError(e.what());
    }
    ScannerConnection scanner(ip, ReadConnectOptions(cl));
    scanner.writeParams(block);
    return kExitOk;
}

} // namespace

int RunParams(const Args &args) {
    const std::vector<OptionDef> options =
        WithConnectOptions({{"json", 0, "", "params get: print JSON instead of a table"}});
    const CommandLine cl(args, options);
    if (cl.printHelpIfAsked(HelpText(kHelp, options, kHelpEnd)))
        return kExitOk;
    if (cl.positional().empty())
        throw UsageError("missing action; usage: qz417ctl params get|set|store|defaults|save|load "
                         "ADDR ...");
    const std::string &action = cl.positional()[0];
    if (action != "get" && cl.has("json"))
        throw UsageError("option --json belongs to 'params get'");
    if (action == "get")
        return Get(cl);
    if (action == "set")
        return Set(cl);
    if (action == "store")
        return Flush(cl, QZ417_FLUSH_STORE);
    if (action == "defaults")
        return Flush(cl, QZ417_FLUSH_DEFAULTS);
    if (action == "save")
        return Save(cl);
    if (action == "load")
        return Load(cl);
    throw UsageError("unknown action '" + action +
                     "'; usage: qz417ctl params get|set|store|defaults|save|load ADDR ...");
}

} // namespace qz417::ctl
