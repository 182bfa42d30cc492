@iT444o
