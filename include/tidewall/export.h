#ifndef TIDEWALL_EXPORT_H
#define TIDEWALL_EXPORT_H

// The shared object is built with hidden visibility; only what carries TW_API is
// part of the public interface.
#define TW_API __attribute__((visibility("default")))

#endif
