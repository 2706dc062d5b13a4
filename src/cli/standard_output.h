#pragma once
// Standard output as kavconv writes it: through a buffer straight to descriptor 1, keeping
// the cause of the first failed write, so that a full disk or a closed pipe reader is
// reported ("kavconv: write error: No space left on device") instead of passing silently.

#include <array>
#include <streambuf>

namespace kav {

class DescriptorOutput final : public std::streambuf {
 public:
  explicit DescriptorOutput(int fd);
  ~DescriptorOutput() override;
  DescriptorOutput(const DescriptorOutput&) = delete;
  DescriptorOutput& operator=(const DescriptorOutput&) = delete;

  // The errno of the first write that failed, or 0. After a failure nothing more is written.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();

  int fd_;
  int error_ = 0;
  std::array<char, 16 * 1024> buffer_{};
};

}  // namespace kav
