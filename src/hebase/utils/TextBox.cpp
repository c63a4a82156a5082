#include "hebase/utils/TextBox.h"

#include <iomanip>
#include <sstream>

#include "hebase/utils/Assert.h"

namespace quorvane {

TextBox::TextBox(const std::string& text)
{
  std::istringstream in(text);
  std::vector<std::string> split;
  std::string line;
  while (std::getline(in, line))
    split.push_back(line);
  setLines(split);
}

void TextBox::setLines(const std::vector<std::string>& newLines)
{
  lines = newLines;
  height = static_cast<int32_t>(lines.size());
  width = 0;
  for (const std::string& line : lines)
    width = std::max<int32_t>(width, static_cast<int32_t>(line.size()));
  for (std::string& line : lines)
    line.resize(width, ' ');
}

void TextBox::addBorder()
{
  std::string border = "+" + std::string(width, '-') + "+";
  std::vector<std::string> framed;
  framed.reserve(lines.size() + 2);
  framed.push_back(border);
  for (const std::string& line : lines)
    framed.push_back("|" + line + "|");
  framed.push_back(border);
  lines = framed;
  width += 2;
  height += 2;
}

void TextBox::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  if (!title.empty())
    out << title << std::endl;
  for (const std::string& line : lines)
    out << line << std::endl;
}

void TextBox::printRow(std::ostream& out, const std::vector<std::string>& titles,
                       const std::vector<TextBox>& boxes, int spacing)
{
  QV_ASSERT(titles.size() == boxes.size(), "boxes and titles do not match");
  out << std::left;
  for (size_t i = 0; i < boxes.size(); ++i) {
    if (i > 0 && spacing > 0)
      out << std::setw(spacing) << " ";
    out << std::setw(boxes[i].width) << titles[i];
  }
  out << std::endl;
  int32_t h = 0;
  for (const TextBox& box : boxes)
    h = std::max(h, box.height);
  for (int32_t r = 0; r < h; ++r) {
    for (size_t j = 0; j < boxes.size(); ++j) {
      if (j > 0 && spacing > 0)
        out << std::setw(spacing) << " ";
      if (r < boxes[j].height)
        out << boxes[j].lines[r];
    }
    out << std::endl;
  }
}

} // namespace quorvane
