// TEMPORARY. Placeholders for the functions declared in pending.h, so that
// both builds link while their units are being written. None has real
// behaviour. Each owner deletes its entries when its real ones land.
#include "driver/core/pending.h"
