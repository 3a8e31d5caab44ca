# Signature-file rules, whole-file reading and writing, and the certificate verdict: the pieces
# of DigitalSign that need no component, kept apart so they are tested on their own.
add_library(vellum_rules STATIC
  ${CMAKE_CURRENT_LIST_DIR}/signature_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/whole_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/certificate_report.cpp
)
vellum_target_options(vellum_rules)
target_link_libraries(vellum_rules PUBLIC vellum_platform)
