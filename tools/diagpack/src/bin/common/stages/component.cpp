#include "stages/component.hpp"

#include <array>

#include "base/path_ops.hpp"

namespace diagpack {

namespace {

constexpr std::array<ComponentInfo, 4> kTable = {{
    {"dyn", "dyn-data", "quorvane-dyn.cfg", "quorvane-dyn"},
    {"jce", "jce-data", "quorvane-jce.cfg", "quorvane-jce"},
    {"pkcs11", "pkcs11-data", "quorvane-pkcs11.cfg", "quorvane-pkcs11"},
    {"cli", "cli-data", "quorvane-cli.cfg", "quorvane-cli"},
}};

}  // namespace

ComponentInfo component_info(Component component) {
  const auto index = static_cast<std::size_t>(component);
  return kTable[index < kTable.size() ? index : 0];
}

std::string config_path(const ComponentInfo& info) {
  return join_path(std::string(kConfigDir), std::string(info.config_file_name));
}

}  // namespace diagpack
