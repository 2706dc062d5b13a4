// kavconv info: what a converted file holds, and whether all of it is sound.

#include <ostream>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/checked_file.h"
#include "cli/commands.h"
#include "formats/decode.h"
#include "formats/mzr.h"
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

std::string TableName(FileKind kind, std::size_t table) {
  if (kind == FileKind::kMzr) {
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

Json HeaderJson(const DecodedImage& image) {
  Json header;
  if (image.mzr) {
    header["useRemapping"] = image.mzr->useRemapping;
    header["startColor"] = image.mzr->startColor;
    header["endColor"] = image.mzr->endColor;
    header["transparentColor"] = image.mzr->transparentColor;
  } else if (image.runLength) {
    header["dataSize"] = image.runLength->dataSize;
    header["rowTableSize"] = image.runLength->rowTableSize;
    header["allRowTablesSize"] = image.runLength->allRowTablesSize;
    header["segmentCount"] = image.runLength->segmentCount;
    header["codedRowsSize"] = image.runLength->dataSize - image.runLength->allRowTablesSize;
  }
  return header;
}

Json ReportJson(const std::string& path, const CheckedFile& report) {
  Json json;
  json["file"] = path;
  json["format"] = FileKindName(report.kind);
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
  const DecodedImage& image = *report.image;
  json["width"] = image.width;
  json["height"] = image.height;
  json["header"] = HeaderJson(image);
  Json tables = Json::array();
  for (std::size_t t = 0; t < image.tables.size(); ++t) {
    const ColourTable& table = image.tables[t];
    tables.push_back({{"table", t},
                      {"name", TableName(image.kind, t)},
                      {"distinctColours", DistinctColours(table)},
                      {"index0", Hex(table.front())},
                      {"index255", Hex(table.back())}});
  }
  json["tables"] = tables;
  return json;
}

std::string JsonLine(const std::string& path, const CheckedFile& report) {
  return ReportJson(path, report).dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PrintText(const std::string& path, const CheckedFile& report, std::ostream& out) {
  const DecodedImage& image = *report.image;
  out << path << ": " << FileKindName(image.kind) << ", " << image.width << " x " << image.height
      << " pixels, " << report.bytes().size() << " bytes, structure valid\n";
  if (image.mzr) {
    out << "  useRemapping      " << (image.mzr->useRemapping ? 1 : 0) << '\n'
        << "  startColor        " << image.mzr->startColor << '\n'
        << "  endColor          " << image.mzr->endColor << '\n'
        << "  transparentColor  " << image.mzr->transparentColor << '\n';
  } else if (image.runLength) {
    const RunLengthFields& fields = *image.runLength;
    out << "  dataSize          " << fields.dataSize << '\n'
        << "  rowTableSize      " << fields.rowTableSize << '\n'
        << "  allRowTablesSize  " << fields.allRowTablesSize << '\n'
        << "  segmentCount      " << fields.segmentCount << '\n'
        << "  coded rows        " << fields.dataSize - fields.allRowTablesSize << " bytes\n";
  }
  out << "  tables            " << image.tables.size()
      << (image.kind == FileKind::kMzr ? " shade tables" : " effect tables")
      << " (distinct colours; colours of index 0 and 255)\n";
  for (std::size_t t = 0; t < image.tables.size(); ++t) {
    const ColourTable& table = image.tables[t];
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
    line += "damaged " + std::string(FileKindName(report.kind)) + " file at offset " +
            std::to_string(report.damage->offset) + ": " + report.damage->reason;
  }
  err << line << '\n';
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
