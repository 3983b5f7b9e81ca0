#pragma once

#include "DataSet.h"

// Posts the pending row; a row the engine refuses is dropped before the error
// goes on, so that the table is not left in the middle of an edit that the
// next operation would post again.
inline void postOrDrop(DataSet &table)
{
    try {
        table.post();
    } catch (...) {
        table.cancel();
        throw;
    }
}
