#include "logging/log_rotation.h"

#include <string>

namespace vx {

std::string LogBaseName(const std::string& file_name) {
  const std::string::size_type extension = file_name.find(".log");
  return extension == std::string::npos ? std::string() : file_name.substr(0, extension);
}

std::string MakeRotatedLogName(const std::string& directory, const std::string& name, int n) {
  return directory + "\\" + LogBaseName(name) + std::to_string(n) + ".log";
}

}  // namespace vx
