#include "chart_image.h"

#include "chart_facts.h"
#include "png_writer.h"
#include "progress.h"

namespace {

// Reads every row in turn, hides what the plan hides, and hands it on.
template <typename Sink>
bool each_row(ChartSession &session, const ImagePlan &plan, bool show_rows, std::string *problem, Sink sink) {
    std::vector<uint8_t> row(static_cast<size_t>(session.width()));
    Progress progress(show_rows ? session.height() : 0);
    for (int32_t r = 0; r < session.height(); ++r) {
        if (!session.read_row(static_cast<uint32_t>(r), row.data())) {
            progress.done();
            *problem = "row " + std::to_string(r) + " could not be read";
            return false;
        }
        if (plan.mask) plan.mask->apply(r, row.data(), kHidden);
        if (!sink(row.data())) return false;
        progress.step(r + 1);
    }
    progress.done();
    return true;
}

}  // namespace

bool plan_image(const NvchExports &nvch, ChartSession &session, const Options &o, const std::string &chart,
                ImagePlan *plan) {
    const ChartFacts facts = read_chart_facts(nvch, session.file(), session.width(), session.height());
    int32_t mod_time = -1;
    plan->colours = session.colours(&mod_time);
    if (!o.palette.empty()) {
        auto colours = palette_named(nvch, session.file(), o.palette);
        if (!colours) {
            std::string has;
            for (const std::string &p : facts.palettes) has += (has.empty() ? "" : ", ") + p;
            error(chart + " has no palette " + o.palette + "; it has " + (has.empty() ? "none" : has));
            return false;
        }
        plan->colours = std::move(*colours);
    }
    std::vector<PixelPoint> outline;
    if (o.clip) {
        for (const auto &[x, y] : outline_in_pixels(nvch, session.file(), facts)) outline.push_back({x, y});
        if (outline.empty()) error(chart + " has no outline (no PLY records): its whole image is kept");
    }
    plan->mask = std::make_unique<PixelMask>(nvch, session.file(), session.width(), session.height(), std::move(outline));
    if (!plan->mask->any_hidden()) plan->mask.reset();
    return true;
}

bool write_png_image(ChartSession &session, const ImagePlan &plan, const std::string &path,
                     const std::vector<std::pair<std::string, std::string>> &texts, bool show_rows,
                     std::string *problem) {
    PngWriter png(path, session.width(), session.height(), plan.colours, texts, problem, plan.hidden());
    if (!png.ok()) return false;
    const bool read = each_row(session, plan, show_rows, problem, [&](const uint8_t *row) {
        if (png.write_row(row)) return true;
        *problem = png.problem();
        return false;
    });
    if (!read) return false;
    if (png.finish()) return true;
    *problem = png.problem();
    return false;
}

bool write_cog_image(ChartSession &session, const ImagePlan &plan, CogImage image, const CogOptions &options,
                     const std::string &path, bool show_rows, std::string *problem) {
    image.width = session.width();
    image.height = session.height();
    image.palette = plan.colours;
    image.no_data = plan.hidden();
    CogWriter cog(image, options);
    const bool read = each_row(session, plan, show_rows, problem, [&](const uint8_t *row) {
        if (cog.add_row(row)) return true;
        *problem = "tiles could not be compressed";
        return false;
    });
    if (!read) return false;
    return cog.finish(path, problem);
}
