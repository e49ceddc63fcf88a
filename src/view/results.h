// Results the viewport finishes on the main thread each frame. For now the
// undo and redo requests of the main window: one event of the ring is
// replayed per frame, never while a job reads or writes the layers.
#pragma once

void view_undoredo();
