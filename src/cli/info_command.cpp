// kavconv info: what a converted file holds, and whether all of it is sound.

#include <ostream>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/checked_file.h"
#include "cli/commands.h"
#include "cli/printable.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "platform/format_text.h"

namespace kav {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::string_view, kEffectTableCount> kEffectTableNames{
    "plain",
    "darkened (6)",
    "lightened (6)",
    "darkened (5), blue tint (3)",
    "darkened (7), red tint (3)",
    "darkened (6), red (2) and blue (2) tint",
    "grey",
    "cyan tint (7)"};
constexpr std::array<std::string_view, kShadePalettes> kShadeGroupNames{"untinted", "red", "green",
                                                                        "blue"};

using ColourTable = std::array<std::uint16_t, KAV_TABLE_ENTRIES>;

std::string TableName(kav_kind kind, std::size_t table) {
  if (kind == KAV_KIND_MZR) {
    return FormatText("%s, level %zu", kShadeGroupNames[table / kShadeLevels].data(),
                      table % kShadeLevels);
  }
  return std::string(kEffectTableNames.at(table));
}

std::string Hex(Rgb565 colour) {
  return FormatText("0x%04X", colour);
}

std::size_t DistinctColours(const ColourTable& table) {
  return std::set<Rgb565>(table.begin(), table.end()).size();
}

// Every colour table of the file, table 0 first.
std::vector<ColourTable> TablesOf(const kav_image& image) {
  std::vector<ColourTable> tables(image.table_count);
  for (unsigned t = 0; t < image.table_count; ++t) {
    kav_read_table(&image, t, tables[t].data());
  }
  return tables;
}

Json HeaderJson(const kav_image& image) {
  Json header;
  if (image.kind == KAV_KIND_MZR) {
    header["useRemapping"] = image.mzr.use_remapping == 1;
    header["startColor"] = image.mzr.start_color;
    header["endColor"] = image.mzr.end_color;
    header["transparentColor"] = image.mzr.transparent_color;
  } else {
    header["dataSize"] = image.rl.data_size;
    header["rowTableSize"] = image.rl.row_table_size;
    header["allRowTablesSize"] = image.rl.all_row_tables_size;
    header["segmentCount"] = image.rl.segment_count;
    header["codedRowsSize"] = image.rl.data_size - image.rl.all_row_tables_size;
  }
  return header;
}

Json ReportJson(const std::string& path, const CheckedFile& report) {
  Json json;
  json["file"] = path;
  if (!IsValidUtf8(path)) {
    json["fileHex"] = HexBytes(path);  // "file" has U+FFFD in place of the bytes that are not
  }
  json["format"] = kav_kind_name(report.kind);
  json["valid"] = report.Sound();
  if (report.failure) {
    json["error"] = {{"offset", report.failureOffset ? Json(*report.failureOffset) : Json()},
                     {"reason", *report.failure}};
    return json;
  }
  json["fileSize"] = report.bytes().size();
  if (report.damage) {
    json["error"] = {{"offset", report.damage->offset}, {"reason", report.damage->reason}};
    return json;
  }
  const kav_image& image = report.image;
  json["width"] = image.width;
  json["height"] = image.height;
  json["header"] = HeaderJson(image);
  Json tables = Json::array();
  const std::vector<ColourTable> colours = TablesOf(image);
  for (std::size_t t = 0; t < colours.size(); ++t) {
    const ColourTable& table = colours[t];
    tables.push_back({{"table", t},
                      {"name", TableName(image.kind, t)},
                      {"distinctColours", DistinctColours(table)},
                      {"index0", Hex(table.front())},
                      {"index255", Hex(table.back())}});
  }
  json["tables"] = tables;
  return json;
}

// The code point of the UTF-8 character `character` (one to three bytes).
unsigned CodePoint(std::string_view character) {
  const auto byte = [character](std::size_t i) { return static_cast<unsigned char>(character[i]); };
  switch (character.size()) {
    case 1:
      return byte(0);
    case 2:
      return (byte(0) & 0x1FU) << 6 | (byte(1) & 0x3FU);
    default:
      return (byte(0) & 0x0FU) << 12 | (byte(1) & 0x3FU) << 6 | (byte(2) & 0x3FU);
  }
}

// The control character that nlohmann's short escape \<letter> stands for, or 0.
unsigned ShortEscaped(char letter) {
  switch (letter) {
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return 0;
  }
}

// nlohmann writes U+0000-U+001F escaped, some in short forms (\n), but DEL, U+0080-U+009F and
// the bidirectional controls as they are. Here every control character is written \uXXXX, so
// that no line can act on a terminal. Outside strings, JSON text has none of these bytes.
std::string EscapeControls(std::string_view dumped) {
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dumped[i]);
    const char next = i + 1 < dumped.size() ? dumped[i + 1] : '\0';
    if (byte == '\\') {
      // \\, \" and the start of \uXXXX stay as they are.
      const unsigned control = ShortEscaped(next);
      out += control != 0 ? FormatText("\\u%04x", control) : std::string(dumped.substr(i, 2));
      ++i;
    } else if (const std::size_t control =
                   (byte & 0xC0) == 0x80 ? 0 : ControlLength(dumped.substr(i));  // not inside one
               control > 0) {
      out += FormatText("\\u%04x", CodePoint(dumped.substr(i, control)));
      i += control - 1;
    } else {
      out += dumped[i];
    }
  }
  return out;
}

std::string JsonLine(const std::string& path, const CheckedFile& report) {
  // Names that are not UTF-8 get U+FFFD in "file"; "fileHex" keeps their bytes.
  return EscapeControls(
      ReportJson(path, report).dump(-1, ' ', false, Json::error_handler_t::replace));
}

void PrintText(const std::string& path, const CheckedFile& report, std::ostream& out) {
  const kav_image& image = report.image;
  out << Printable(path) << ": " << kav_kind_name(image.kind) << ", " << image.width << " x "
      << image.height << " pixels, " << report.bytes().size() << " bytes, structure valid\n";
  if (image.kind == KAV_KIND_MZR) {
    out << "  useRemapping      " << unsigned{image.mzr.use_remapping} << '\n'
        << "  startColor        " << image.mzr.start_color << '\n'
        << "  endColor          " << image.mzr.end_color << '\n'
        << "  transparentColor  " << image.mzr.transparent_color << '\n';
  } else {
    const kav_rl_fields& fields = image.rl;
    out << "  dataSize          " << fields.data_size << '\n'
        << "  rowTableSize      " << fields.row_table_size << '\n'
        << "  allRowTablesSize  " << fields.all_row_tables_size << '\n'
        << "  segmentCount      " << fields.segment_count << '\n'
        << "  coded rows        " << fields.data_size - fields.all_row_tables_size << " bytes\n";
  }
  const std::vector<ColourTable> colours = TablesOf(image);
  out << "  tables            " << colours.size()
      << (image.kind == KAV_KIND_MZR ? " shade tables" : " effect tables")
      << " (distinct colours; colours of index 0 and 255)\n";
  for (std::size_t t = 0; t < colours.size(); ++t) {
    const ColourTable& table = colours[t];
    out << FormatText("    %2zu  %-40s %3zu  %s  %s\n", t, TableName(image.kind, t).c_str(),
                      DistinctColours(table), Hex(table.front()).c_str(),
                      Hex(table.back()).c_str());
  }
}

void PrintProblem(const std::string& path, const CheckedFile& report, std::ostream& err) {
  std::string line = "kavconv: " + path + ": ";
  if (report.failure) {
    line += *report.failure;
  } else {
    line += "damaged " + std::string(kav_kind_name(report.kind)) + " file at offset " +
            std::to_string(report.damage->offset) + ": " + report.damage->reason;
  }
  err << Printable(line) << '\n';
}

class InfoCommand final : public Command {
 public:
  explicit InfoCommand(CLI::App& app)
      : Command(app.add_subcommand(
            "info",
            "Show the header and tables of MZR, RLE and RLS files and check their "
            "whole structure.")) {
    subcommand_->add_flag("--json", json_, "Print one JSON object per file, one per line");
    subcommand_->add_option("FILE", files_, "Converted files (recognised by content)")->required();
  }

  int Run(std::ostream& out, std::ostream& err) override {
    bool allSound = true;
    for (const std::string& path : files_) {
      const CheckedFile report = CheckFile(path);
      allSound = allSound && report.Sound();
      if (json_) {
        out << JsonLine(path, report) << '\n';
      } else if (report.Sound()) {
        PrintText(path, report, out);
      } else {
        PrintProblem(path, report, err);
      }
    }
    out << std::flush;
    return allSound ? kExitSuccess : kExitFailure;
  }

 private:
  bool json_ = false;
  std::vector<std::string> files_;
};

}  // namespace

std::unique_ptr<Command> AddInfoCommand(CLI::App& app) {
  return std::make_unique<InfoCommand>(app);
}

}  // namespace kav
