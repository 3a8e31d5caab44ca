# find_package(Vellum) gives Vellum::vellum: the client helper with the public headers
# (vellum/vellum.h, vellum/client.h). Objects come from the library registered on the machine.
include("${CMAKE_CURRENT_LIST_DIR}/VellumTargets.cmake")
