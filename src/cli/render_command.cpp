// kavconv render: a converted file as an RGBA PNG, through one of its colour tables or all
// of them on a contact sheet.

#include <iostream>
#include <optional>

#include "cli/commands.h"
#include "cli/png_writer.h"
#include "formats/decode.h"
#include "formats/render.h"
#include "platform/file.h"

namespace kav {
namespace {

class RenderCommand final : public Command {
 public:
  explicit RenderCommand(CLI::App& app)
      : Command(app.add_subcommand("render", "Draw an MZR, RLE or RLS file as an RGBA PNG.")) {
    subcommand_->add_option("FILE", file_, "The converted file")->required();
    subcommand_->add_option("-o,--output", output_, "The PNG file to write")->required();
    subcommand_->add_option("--table", table_,
                            "Colour table: MZR 0-31 (default 4), RLE and RLS 0-7 (default 0)");
    subcommand_->add_flag("--sheet", sheet_, "Every table side by side, labelled by number");
  }

  int Run() override {
    const std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(file_);
    if (!bytes) {
      return Fail("Cannot open this file");
    }
    if (DetectFileKind(*bytes) == FileKind::kUnknown) {
      return Fail("not an MZR, RLE or RLS file");
    }
    const DecodeResult result = DecodeFile(*bytes, PixelOutput::kCheckOnly);
    if (const auto* error = std::get_if<DecodeError>(&result)) {
      return Fail("damaged file at offset " + std::to_string(error->offset) + ": " + error->reason);
    }
    const DecodedImage& image = std::get<DecodedImage>(result);
    const std::size_t table = table_.value_or(DefaultTableOf(image.kind));
    if (table >= image.tables.size()) {
      std::cerr << "kavconv: " << file_ << ": there is no table " << table << " in an "
                << FileKindName(image.kind) << " file (0 to " << image.tables.size() - 1 << ")\n";
      return kExitUsage;
    }
    RowDecoder rows(image, *bytes);
    const bool written =
        sheet_
            ? WriteSheet(image, rows)
            : WriteRgbaPng(output_, image.width, image.height,
                           [&](std::uint64_t y, std::span<std::uint8_t> rgba) {
                             RenderRow(image, table, rows.Row(static_cast<std::uint32_t>(y)), rgba);
                           });
    if (!written) {
      std::cerr << "kavconv: " << output_ << ": Cannot write output file\n";
      return kExitFailure;
    }
    return kExitSuccess;
  }

 private:
  bool WriteSheet(const DecodedImage& image, RowDecoder& rows) const {
    ContactSheet sheet(image, rows);
    return WriteRgbaPng(
        output_, sheet.Width(), sheet.Height(),
        [&](std::uint64_t y, std::span<std::uint8_t> rgba) { sheet.RenderRow(y, rgba); });
  }

  int Fail(const std::string& text) const {
    std::cerr << "kavconv: " << file_ << ": " << text << '\n';
    return kExitFailure;
  }

  std::string file_;
  std::string output_;
  std::optional<std::size_t> table_;
  bool sheet_ = false;
};

}  // namespace

std::unique_ptr<Command> AddRenderCommand(CLI::App& app) {
  return std::make_unique<RenderCommand>(app);
}

}  // namespace kav
