// kavconv thumbnail: a converted file drawn through its plain table, scaled to fit a square,
// as an RGBA PNG; what the desktop's thumbnailer entry runs. The file is checked whole before
// anything is written, and its rows are decoded one at a time as the thumbnail's rows are
// made.

#include <algorithm>
#include <future>
#include <new>
#include <ostream>
#include <thread>

#include "cli/checked_file.h"
#include "cli/commands.h"
#include "cli/png_writer.h"
#include "cli/printable.h"
#include "formats/thumbnail.h"

namespace kav {
namespace {

// As large as a side of a converted picture can be.
constexpr std::uint32_t kLargestSize = 65535;

class ThumbnailCommand final : public Command {
 public:
  explicit ThumbnailCommand(CLI::App& app)
      : Command(app.add_subcommand(
            "thumbnail",
            "Draw an MZR, RLE or RLS file through its plain table, scaled to fit SIZE x SIZE, as "
            "an RGBA PNG.")) {
    subcommand_
        ->add_option("-s,--size", size_,
                     "The longer side of the thumbnail in pixels (1-65535); the shorter keeps "
                     "the aspect ratio")
        ->check(CLI::Range(1u, kLargestSize))
        ->required();
    subcommand_->add_option("FILE", file_, "The converted file")->required();
    subcommand_->add_option("OUT", output_, "The PNG file to write")
        ->required()
        ->check(kPathNotEmpty);
  }

  int Run(std::ostream& /*out*/, std::ostream& err) override {
    try {
      return Draw(err);
    } catch (const std::bad_alloc&) {
      return Fail(err, file_, "Out of memory");
    }
  }

 private:
  // A thumbnail small enough to be drawn whole is drawn while the file's structure is checked
  // (on another thread), and written only when the file is sound.
  int Draw(std::ostream& err) const {
    CheckedFile checked = OpenFile(file_);
    if (!checked.Sound()) {
      return Refuse(checked, err);
    }
    std::future<void> structure = std::async(std::launch::async | std::launch::deferred,
                                             [&checked] { CheckStructure(checked); });
    const kav_image& image = checked.image;
    const ThumbnailSize size = FitThumbnail(image.width, image.height, size_);
    Thumbnail rows(image, kav_plain_table(&image), size,
                   std::max(1u, std::thread::hardware_concurrency()));
    structure.get();
    if (!checked.Sound()) {
      return Refuse(checked, err);
    }
    const RgbaRowSource source = [&](std::uint64_t y, std::span<std::uint8_t> rgba) {
      rows.Render(static_cast<std::uint32_t>(y), rgba);
      // A file that shrinks while it is drawn reads as zeros: the thumbnail is then given up.
      return !checked.mapped.block.Damaged();
    };
    const PngWarnings warnings = [&](std::string_view text) { Fail(err, output_, text); };
    return Report(WriteRgbaPngFile(output_, file_, size.width, size.height, source, warnings,
                                   PngCompression::kFast),
                  err);
  }

  int Refuse(const CheckedFile& checked, std::ostream& err) const {
    if (checked.failure) {
      return Fail(err, file_, *checked.failure);
    }
    return Fail(err, file_,
                "damaged file at offset " + std::to_string(checked.damage->offset) + ": " +
                    checked.damage->reason);
  }

  int Report(const PngOutcome& outcome, std::ostream& err) const {
    using Result = PngOutcome::Result;
    if (outcome.result == Result::kWritten) {
      return kExitSuccess;
    }
    if (outcome.result == Result::kSourceFailed) {
      return Fail(err, file_, kShrankText);
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

  std::uint32_t size_ = 0;
  std::string file_;
  std::string output_;
};

}  // namespace

std::unique_ptr<Command> AddThumbnailCommand(CLI::App& app) {
  return std::make_unique<ThumbnailCommand>(app);
}

}  // namespace kav
