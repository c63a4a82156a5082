#ifndef QUORVANE_HEBASE_UTILS_TEXTBOX_H
#define QUORVANE_HEBASE_UTILS_TEXTBOX_H

#include <cstdint>
#include <string>
#include <vector>

#include "hebase/utils/Printable.h"

namespace quorvane {

/// A block of text lines of equal width, printable side by side with others.
class TextBox : public Printable
{
public:
  TextBox() = default;
  /// Splits the text at newlines.
  explicit TextBox(const std::string& text);

  /// Frames the box with '+', '-' and '|'.
  void addBorder();
  /// Takes the lines and pads them to the widest.
  void setLines(const std::vector<std::string>& newLines);

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Prints boxes side by side under their titles, spacing blanks apart.
  static void printRow(std::ostream& out, const std::vector<std::string>& titles,
                       const std::vector<TextBox>& boxes, int spacing);

  const std::vector<std::string>& getLines() const { return lines; }
  int32_t getWidth() const { return width; }
  int32_t getHeight() const { return height; }

private:
  std::vector<std::string> lines;
  int32_t width = 0;
  int32_t height = 0;
};

} // namespace quorvane

#endif
