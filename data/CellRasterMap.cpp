#include "data/CellRasterMap.h"

#include <climits>
#include <new>

std::shared_ptr<CellRasterMap> CellRasterMap::create(int width, int height)
{
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > INT_MAX)
        return nullptr;
    std::shared_ptr<CellRasterMap> map(new (std::nothrow) CellRasterMap);
    if (!map)
        return nullptr;
    map->columns = width;
    map->rows = height;
    if (!map->samples.allocateForOverwrite(width * height))
        return nullptr;
    return map;
}
