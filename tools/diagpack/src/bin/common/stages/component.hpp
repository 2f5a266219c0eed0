// The component table: everything that names one SDK component. Every other
// module receives a row and never spells these names itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace diagpack {

using Component = std::uint8_t;  // 0 dyn, 1 jce, 2 pkcs11, 3 cli

struct ComponentInfo {
  std::string_view key;               // "jce"
  std::string_view output_dir_name;   // "jce-data"
  std::string_view config_file_name;  // "quorvane-jce.cfg"
  std::string_view package_name;      // "quorvane-jce"
};

// Where every component keeps its configuration file.
inline constexpr std::string_view kConfigDir = "/opt/quorvane/etc";

// The row of |component|. Indexes above 3 give the dyn row for the key and
// the configuration file; callers pass only 0 to 3.
ComponentInfo component_info(Component component);

// "/opt/quorvane/etc/quorvane-jce.cfg".
std::string config_path(const ComponentInfo& info);

}  // namespace diagpack
