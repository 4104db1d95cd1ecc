#include "lookoutput.h"

#include "curvesplot.h"
#include "curvesreport.h"
#include "look.h"
#include "mappingplot.h"
#include "mappingreport.h"
#include "mixingplot.h"
#include "mixingreport.h"

namespace {

struct Plot
{
    QImage operator()(const CurvesFilter &curves) const { return CurvesPlot::plot(curves); }
    QImage operator()(const MixingFilter &mixing) const { return MixingPlot::plot(mixing); }
    QImage operator()(const AreaMapping &mapping) const { return MappingPlot::plot(mapping); }
};

struct Report
{
    QStringList operator()(const CurvesFilter &curves) const
    {
        return CurvesReport(curves).lines();
    }
    QStringList operator()(const MixingFilter &mixing) const { return MixingReport::lines(mixing); }
    QStringList operator()(const AreaMapping &mapping) const
    {
        return MappingReport::lines(mapping);
    }
};

} // namespace

namespace LookOutput {

QImage plot(const Look &look) { return look.visit(Plot {}); }

QStringList report(const Look &look) { return look.visit(Report {}); }

} // namespace LookOutput
