// kavconv render: a converted file as an RGBA PNG, through one of its colour tables or all
// of them on a contact sheet. Rows are decoded from the mapped file one at a time as libpng
// takes them, so a picture of any size needs memory for a few rows only.

#include <new>
#include <optional>
#include <ostream>

#include "cli/checked_file.h"
#include "cli/commands.h"
#include "cli/png_writer.h"
#include "cli/printable.h"
#include "formats/render.h"

namespace kav {
namespace {

constexpr std::string_view kStandardOutput = "-";

class RenderCommand final : public Command {
 public:
  explicit RenderCommand(CLI::App& app)
      : Command(app.add_subcommand("render", "Draw an MZR, RLE or RLS file as an RGBA PNG.")) {
    subcommand_->add_option("FILE", file_, "The converted file")->required();
    subcommand_->add_option("-o,--output", output_, "The PNG file to write; - for stdout")
        ->required()
        ->check(kPathNotEmpty);
    subcommand_->add_option("--table", table_,
                            "Colour table: MZR 0-31 (default 4), RLE and RLS 0-7 (default 0)");
    subcommand_->add_flag("--sheet", sheet_, "Every table side by side, labelled by number");
  }

  int Run(std::ostream& out, std::ostream& err) override {
    try {
      return Render(out, err);
    } catch (const std::bad_alloc&) {
      return Fail(err, file_, "Out of memory");
    }
  }

 private:
  int Render(std::ostream& out, std::ostream& err) const {
    const CheckedFile checked = CheckFile(file_);
    if (checked.failure) {
      return Fail(err, file_, *checked.failure);
    }
    if (checked.damage) {
      return Fail(err, file_,
                  "damaged file at offset " + std::to_string(checked.damage->offset) + ": " +
                      checked.damage->reason);
    }
    const std::optional<unsigned> table = TableOf(checked.image, err);
    if (!table) {
      return kExitUsage;
    }
    return Report(Draw(checked, *table, out, err), out, err);
  }

  // The table asked for, or the default; nullopt, once said on `err`, when there is no such
  // table in the file.
  std::optional<unsigned> TableOf(const kav_image& image, std::ostream& err) const {
    const long long table = table_.value_or(kav_plain_table(&image));
    if (table < 0 || table >= image.table_count) {
      Fail(err, file_,
           image.kind == KAV_KIND_MZR ? "--table must be 0 to 31 for MZR files"
                                      : "--table must be 0 to 7 for RLE and RLS files");
      return std::nullopt;
    }
    return static_cast<unsigned>(table);
  }

  // Draws the picture row by row from the mapped file onto the output.
  PngOutcome Draw(const CheckedFile& checked, unsigned table, std::ostream& out,
                  std::ostream& err) const {
    const kav_image& image = checked.image;
    RgbaRows rows(image);
    std::optional<ContactSheet> sheet;
    if (sheet_) {
      sheet.emplace(image);
    }
    const RgbaRowSource source = [&](std::uint64_t y, std::span<std::uint8_t> rgba) {
      if (sheet) {
        sheet->RenderRow(y, rgba);
      } else {
        rows.Render(static_cast<std::uint32_t>(y), table, rgba);
      }
      // A file that shrinks while it is drawn reads as zeros: the picture is then given up.
      return !checked.mapped.block.Damaged();
    };
    const std::uint64_t width = sheet ? sheet->Width() : image.width;
    const std::uint64_t height = sheet ? sheet->Height() : image.height;
    const PngWarnings warnings = [&](std::string_view text) { Fail(err, output_, text); };
    return output_ == kStandardOutput
               ? WriteRgbaPng(out, width, height, source, warnings)
               : WriteRgbaPngFile(output_, file_, width, height, source, warnings);
  }

  int Report(const PngOutcome& outcome, const std::ostream& out, std::ostream& err) const {
    using Result = PngOutcome::Result;
    if (outcome.result == Result::kWritten) {
      return kExitSuccess;
    }
    if (outcome.result == Result::kSourceFailed) {
      return Fail(err, file_, kShrankText);
    }
    if (output_ == kStandardOutput && !out.good()) {
      return kExitFailure;  // the failed write to stdout is reported as a write error
    }
    std::string text = outcome.result == Result::kCannotCreate ? "Cannot create output file"
                                                               : "Cannot write output file";
    if (!outcome.cause.empty()) {
      text += ": " + outcome.cause;
    }
    return Fail(err, output_, text);
  }

  static int Fail(std::ostream& err, const std::string& name, std::string_view text) {
    err << Printable("kavconv: " + name + ": " + std::string(text)) << '\n' << std::flush;
    return kExitFailure;
  }

  std::string file_;
  std::string output_;
  std::optional<long long> table_;
  bool sheet_ = false;
};

}  // namespace

std::unique_ptr<Command> AddRenderCommand(CLI::App& app) {
  return std::make_unique<RenderCommand>(app);
}

}  // namespace kav
