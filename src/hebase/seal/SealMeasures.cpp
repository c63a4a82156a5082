#include "hebase/seal/SealMeasures.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "hebase/utils/FileUtils.h"

namespace quorvane {

namespace {

// Whole-text decimal integer in the signed 64-bit range.
bool parseInt64(const std::string& text, int64_t& value)
{
  if (text.empty())
    return false;
  size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (start == text.size())
    return false;
  for (size_t i = start; i < text.size(); i++)
    if (text[i] < '0' || text[i] > '9')
      return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || end != text.c_str() + text.size())
    return false;
  value = static_cast<int64_t>(parsed);
  return true;
}

// Objects add their children under "<prefix>.<key>"; array elements (empty
// keys) add nothing. Entries of a sub-object never replace existing keys,
// a leaf replaces an earlier value.
void flattenJsonTree(const boost::property_tree::ptree& tree, const std::string& prefix,
                     std::map<std::string, int64_t>& result)
{
  for (const auto& child : tree) {
    if (child.first.empty())
      continue;
    std::string key = prefix.empty() ? child.first : prefix + "." + child.first;
    if (!child.second.empty()) {
      std::map<std::string, int64_t> sub;
      flattenJsonTree(child.second, key, sub);
      result.insert(sub.begin(), sub.end());
    } else {
      int64_t value;
      if (parseInt64(child.second.data(), value))
        result[key] = value;
    }
  }
}

} // namespace

std::string SealMeasures::getMeasuresFilePath()
{
  return getResourcesDir() + "/optimizer/seal.json";
}

std::map<std::string, int64_t> SealMeasures::parse(std::istream& in)
{
  boost::property_tree::ptree tree;
  boost::property_tree::read_json(in, tree);
  std::map<std::string, int64_t> result;
  flattenJsonTree(tree, "", result);
  return result;
}

std::map<std::string, int64_t> SealMeasures::readFile(const std::string& path)
{
  if (!FileUtils::pathExists(path))
    throw std::runtime_error("SEAL measures file not found at: " + path);
  std::ifstream in = FileUtils::openFileForRead(path, std::ios::binary,
                                                std::ios::failbit | std::ios::badbit);
  // The parser reads to the end; only a bad stream is an error from here on.
  in.exceptions(std::ios::badbit);
  return parse(in);
}

} // namespace quorvane
