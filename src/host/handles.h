// The handles the plug-in has given the host and not taken back.
//
// A host may close a handle twice, or keep using one it closed; the
// exports check every handle against this table first, so that a closed
// or unknown one gets -1, never a crash. The memory of closed handles is
// held back for the next thousand closes before it is released, so that a
// closed handle does not soon name a new chart or layer at its address.
#pragma once

#include "bsb.h"
#include "nvch.h"

// A new, zero-filled file or layer record, known to the table; null when
// memory is exhausted.
ChartFile *handle_new_file();
LayerHandle *handle_new_layer();

// Whether the host holds this handle now.
bool handle_is_file(const ChartFile *file);
bool handle_is_layer(const LayerHandle *layer);

// Whether the host holds this layer and the file it was opened on.
bool handle_is_open_layer(const LayerHandle *layer);

// Library blocks the table holds now (its own and the records of closed
// handles held back): tests that count blocks leave these aside.
int32_t handle_blocks();

// Takes the handle back (false when it is not one the host holds): it is
// no longer known, and its memory is released in its turn.
bool handle_close_file(ChartFile *file);
bool handle_close_layer(LayerHandle *layer);
