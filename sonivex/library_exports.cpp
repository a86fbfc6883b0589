// The shared library's own translation unit: its code comes whole from the
// sonivex_core archive, linked in full.
