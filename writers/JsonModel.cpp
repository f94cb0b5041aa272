#include "writers/JsonModel.h"

void WriteJsonPoint(CFileSink& out, const vemoFloatPoint& point)
{
    out << '[';
    out.JsonFloat(point.x) << ", ";
    out.JsonFloat(point.y) << ", ";
    out.JsonFloat(point.z) << ']';
}

void WriteJsonBox(CFileSink& out, const vemoBBox& box)
{
    if (box.IsEmpty())
    {
        out << "null";
        return;
    }
    out << "{\"min\": ";
    WriteJsonPoint(out, box.GetMin());
    out << ", \"max\": ";
    WriteJsonPoint(out, box.GetMax());
    out << '}';
}
