/* What c_view.c reports about the C view of the public headers. */
#ifndef VELLUM_TESTS_C_VIEW_H
#define VELLUM_TESTS_C_VIEW_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VellumCViewRow {
  const char* name;
  size_t value;
} VellumCViewRow;

typedef struct VellumCViewId {
  const char* name;
  const void* guid; /* the C header's GUID, 16 bytes */
} VellumCViewId;

extern const VellumCViewRow kVellumCView[];
extern const size_t kVellumCViewRows;
extern const VellumCViewId kVellumCIds[];
extern const size_t kVellumCIdRows;

#ifdef __cplusplus
}
#endif

#endif
