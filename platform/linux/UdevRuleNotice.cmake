# Runs at install time, after the udev rule is copied: says what is left to do
# when udev will not find the rule where it went. Package builds (DESTDIR set)
# stay quiet; their maintainer scripts do the rest.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()

if(IS_ABSOLUTE "${korvo_rules_dir}")
  set(korvo_rule "${korvo_rules_dir}/70-korvo-test.rules")
else()
  set(korvo_rule "${CMAKE_INSTALL_PREFIX}/${korvo_rules_dir}/70-korvo-test.rules")
endif()
cmake_path(NORMAL_PATH korvo_rule)
cmake_path(GET korvo_rule PARENT_PATH korvo_dir)

# The directories udev reads rules from.
set(udev_dirs /etc/udev/rules.d /run/udev/rules.d /usr/local/lib/udev/rules.d /usr/lib/udev/rules.d /lib/udev/rules.d)
list(FIND udev_dirs "${korvo_dir}" korvo_dir_index)
if(korvo_dir_index GREATER_EQUAL 0)
  message(STATUS "udev rule installed; apply it with: udevadm control --reload-rules && udevadm trigger")
else()
  message(STATUS "udev does not read rules from ${korvo_dir}; to let non-root users reach KORVO devices, as root: "
                 "cp ${korvo_rule} /etc/udev/rules.d/ && udevadm control --reload-rules && udevadm trigger")
endif()
