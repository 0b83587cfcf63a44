# The kit's top-level pieces. Included by sdk_core/CMakeLists.txt after its sub-folders.
#
# Dependency direction: lidar_cfg (records and model map, header-only) <- command_handler
# (request builders, IpToU8) <- config (file parser and checks, which use IpToU8).

# Configuration records and the model map, shared by every part of the kit.
kesto_library(kesto_lidar_cfg INTERFACE ALIAS lidar_cfg)
target_include_directories(kesto_lidar_cfg INTERFACE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kesto_lidar_cfg INTERFACE kesto::api)

# The configuration file and its checks.
kesto_library(kesto_config
  ${CMAKE_CURRENT_LIST_DIR}/parse_cfg_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/params_check.cpp
  ALIAS config)
target_include_directories(kesto_config PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kesto_config
  PUBLIC kesto::lidar_cfg
  PRIVATE kesto::command_handler kesto::log kesto_dep::rapidjson)
