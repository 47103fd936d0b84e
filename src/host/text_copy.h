// Copies of texts for the host: on the process heap, the host releases them.
#pragma once

char *host_strdup(const char *text);

// A one-entry list for the host: the array and its single text, both on
// the process heap. Null when the array cannot be allocated; the entry is
// null when its text cannot be copied.
char **host_single_list(const char *item);
