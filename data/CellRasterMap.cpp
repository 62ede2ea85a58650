#include "data/CellRasterMap.h"

#include <new>

std::shared_ptr<CellRasterMap> CellRasterMap::create(int width, int height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    std::shared_ptr<CellRasterMap> map(new (std::nothrow) CellRasterMap);
    if (!map)
        return nullptr;
    map->columns = width;
    map->rows = height;
    map->samples.reset(new (std::nothrow) Sample[map->size()]);
    if (!map->samples)
        return nullptr;
    return map;
}
