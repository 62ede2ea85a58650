#include "formats/VelocityPair.h"

namespace {

template <size_t N> bool among(const QString& name, const char* const (&list)[N])
{
    for (const char* candidate : list)
        if (name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

const char* const xAxisNames[] = {"x", "xc", "x_coordinate", "coordinatex", "points:0"};
const char* const yAxisNames[] = {"y", "yc", "y_coordinate", "coordinatey", "points:1"};
const char* const xComponentNames[] = {"u",         "vx",         "ux",         "u_x", "velocity_x",
                                       "velocityx", "x_velocity", "velocity:0", "u:0"};
const char* const yComponentNames[] = {"v",         "vy",         "uy",         "u_y", "velocity_y",
                                       "velocityy", "y_velocity", "velocity:1", "u:1"};

} // namespace

bool VelocityPair::isXComponent(const QString& name)
{
    return among(name, xComponentNames);
}

bool VelocityPair::isYComponent(const QString& name)
{
    return among(name, yComponentNames);
}

bool VelocityPair::isXAxis(const QString& name)
{
    return among(name, xAxisNames);
}

bool VelocityPair::isYAxis(const QString& name)
{
    return among(name, yAxisNames);
}

const std::vector<std::pair<QString, QString>>& VelocityPair::commonPairs()
{
    static const std::vector<std::pair<QString, QString>> pairs = [] {
        static const char* const names[][2] = {
            {"u", "v"},       {"U", "V"},       {"uo", "vo"},     {"u10", "v10"},
            {"uwnd", "vwnd"}, {"ugrd", "vgrd"}, {"UGRD", "VGRD"}, {"water_u", "water_v"},
            {"ucur", "vcur"}, {"uas", "vas"},   {"UVEL", "VVEL"}, {"uvel", "vvel"}};
        std::vector<std::pair<QString, QString>> list;
        for (const auto& pair : names)
            list.emplace_back(QLatin1String(pair[0]), QLatin1String(pair[1]));
        return list;
    }();
    return pairs;
}

int VelocityPair::findOnly(const QStringList& names, bool (*matches)(const QString&), int skip)
{
    int found = -1;
    for (int k = 0; k < names.size(); ++k) {
        if (k == skip || !matches(names[k]))
            continue;
        if (found >= 0)
            return -2;
        found = k;
    }
    return found;
}

void VelocityPair::splitVariable(const QString& option, QString* file, QString* variable)
{
    const int colon = option.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && colon + 1 < option.size()) {
        *file = option.left(colon);
        *variable = option.mid(colon + 1);
    } else {
        file->clear();
        *variable = option;
    }
}

bool VelocityPair::leaveOpen(FlowRecord& record, const QString& why, QString* reason)
{
    record.needsChoice = true;
    *reason = why;
    return false;
}
