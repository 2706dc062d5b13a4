#include "convert/report.h"

#include "formats/output_format.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr const char* kUpToDateFormat = "%s is up to date";
constexpr const char* kNoPixelsText = "Error: this image has no pixels!";
constexpr const char* kAllocationErrorText = "Error allocating memory!";
constexpr const char* kTooLargeText = "This image is too large for this format";
constexpr const char* kCannotCreateText = "Cannot create output file";
constexpr const char* kCannotWriteText = "Cannot write output file";
constexpr const char* kNoSuchFrameText = "This file has no such frame";
constexpr const char* kSkippedText = "tilemap layers and chunks of unknown kinds were skipped";

ReportLine Status(std::string text) {
  return {.kind = ReportLine::Kind::kStatus,
          .owner = MessageOwner::kNone,
          .text = std::move(text),
          .cause = {}};
}

ReportLine FailureStatus(std::string text) {
  return {.kind = ReportLine::Kind::kFailureStatus,
          .owner = MessageOwner::kNone,
          .text = std::move(text),
          .cause = {}};
}

ReportLine Box(MessageOwner owner, std::string text, const std::error_code& cause) {
  return {.kind = ReportLine::Kind::kBox,
          .owner = owner,
          .text = std::move(text),
          .cause = ErrorText(cause)};
}

// The lines of a failure; none for an output no longer wanted.
void AddFailure(const Conversion& conversion, std::vector<ReportLine>& lines) {
  const OutputFormatInfo& format = FormatOf(conversion.format);
  switch (conversion.outcome) {
    case Outcome::kUnreadable:
    case Outcome::kSourceDamaged:
      // As the reader says it, then the writer's own status line.
      lines.push_back(Box(MessageOwner::kNone,
                          std::string(ReadFailureText(conversion.read.failure)),
                          conversion.read.cause));
      lines.push_back(FailureStatus(FormatText(
          format.unreadableStatus, std::string(InputKindName(conversion.read.kind)).c_str())));
      return;
    case Outcome::kNoPixels:
      lines.push_back(FailureStatus(kNoPixelsText));
      return;
    case Outcome::kOutOfMemory:
      lines.push_back(FailureStatus(kAllocationErrorText));
      return;
    case Outcome::kTooLarge:
      lines.push_back(Box(MessageOwner::kMainDialog, kTooLargeText, {}));
      return;
    case Outcome::kCannotCreate:
      lines.push_back(Box(MessageOwner::kMainDialog, kCannotCreateText, conversion.cause));
      return;
    case Outcome::kCannotWrite:
      lines.push_back(Box(MessageOwner::kMainDialog, kCannotWriteText, conversion.cause));
      return;
    case Outcome::kNoSuchFrame:
      lines.push_back(FailureStatus(kNoSuchFrameText));
      return;
    case Outcome::kWritten:
    case Outcome::kUpToDate:
    case Outcome::kNotWanted:
      return;
  }
}

}  // namespace

std::vector<ReportLine> ReportOf(const Conversion& conversion) {
  const char* fileStatus = conversion.outcome == Outcome::kUpToDate
                               ? kUpToDateFormat
                               : FormatOf(conversion.format).writtenStatus;
  std::vector<ReportLine> lines;
  if (conversion.skippedContent) {
    lines.push_back({.kind = ReportLine::Kind::kNote,
                     .owner = MessageOwner::kNone,
                     .text = kSkippedText,
                     .cause = {}});
  }
  for (const std::string& file : conversion.files) {
    lines.push_back(Status(FormatText(fileStatus, file.c_str())));
  }
  AddFailure(conversion, lines);
  return lines;
}

void ConverterHost::Report(const Conversion& conversion) {
  for (const ReportLine& line : ReportOf(conversion)) {
    if (line.kind == ReportLine::Kind::kBox) {
      ShowError(line.owner, line.text, line.cause);
    } else if (line.kind != ReportLine::Kind::kNote) {
      SetStatusText(line.text);
    }
  }
}

}  // namespace kav
