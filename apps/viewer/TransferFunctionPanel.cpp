// The transfer-function editor panel of kestrel-viewer, on Dear ImGui.
#include "TransferFunctionPanel.h"

#include <GL/freeglut.h>
#include <imgui.h>
#include <backends/imgui_impl_glut.h>
#include <backends/imgui_impl_opengl2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "DataDefaults.h"
#include "RGBATransferFunction1D.h"
#include "TransferFunctionEdit.h"
#include "TransferFunctionFile.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace tfpanel {
namespace {

constexpr int kHistogramBins = 128;
constexpr float kPlotWidth = 320.0f;
constexpr float kPlotHeight = 120.0f;
constexpr float kPickRadius = 6.0f;  // pixels around a point that pick it

struct Panel {
    bool open = false;
    RGBATransferFunction1D* function = nullptr;
    const DataDefaults* defaults = nullptr;  // usable ones, or null
    std::vector<float> histogram;            // log-scaled bar heights, 0 .. 1
    int selected = -1;                       // selected point
    bool dragging = false;                   // a point follows the pointer
    bool pointerDown = false;                // a press that began over the panel is still held
    float windowX = 0, windowY = 0, windowW = 0, windowH = 0;  // the panel, last frame
    float plotX = 0, plotY = 0;                                // the plot's top-left corner
    char path[512] = "transfer-function.ktf";
    std::string status;
    bool changed = false;  // the current frame changed the function
};
Panel p;

void Report(const std::string& line) {
    p.status = line;
    std::printf("kestrel-viewer: %s\n", line.c_str());
    std::fflush(stdout);
}

void Changed(const char* what) {
    p.changed = true;
    char line[160];
    std::snprintf(line, sizeof line, "transfer function %s: %d points", what,
                  p.function->GetPointCount());
    Report(line);
}

// Bar heights from counts: log-scaled, the highest bar 1.
void SetBars(const std::vector<double>& counts) {
    double peak = 0.0;
    for (double c : counts)
        peak = std::max(peak, std::log1p(c));
    p.histogram.assign(counts.size(), 0.0f);
    for (size_t i = 0; i < counts.size(); ++i)
        p.histogram[i] = peak > 0.0 ? float(std::log1p(counts[i]) / peak) : 0.0f;
}

void SetHistogram(VolumeData& volume) {
    SetBars(
        ValueHistogram(volume, p.function->GetMinPos(), p.function->GetMaxPos(), kHistogramBins));
}

// The defaults' histogram (the one the data's defaults come from), its bins gathered into the
// plot's over the function's range.
void SetHistogram(const VolumeHistogram& histogram) {
    const double low = p.function->GetMinPos(), high = p.function->GetMaxPos();
    std::vector<double> counts(kHistogramBins, 0.0);
    for (std::size_t b = 0; b < histogram.counts.size() && high > low; ++b) {
        const double value = histogram.BinCentre(int(b));
        if (value < low || value > high) continue;
        const int bar = int((value - low) / (high - low) * kHistogramBins);
        counts[std::size_t(std::min(bar, kHistogramBins - 1))] += double(histogram.counts[b]);
    }
    SetBars(counts);
}

// The plot: value along x over the function's range, opacity up.
void Plot() {
    RGBATransferFunction1D& f = *p.function;
    const float low = f.GetMinPos(), high = f.GetMaxPos();
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    p.plotX = origin.x;
    p.plotY = origin.y;
    ImGui::InvisibleButton("plot", ImVec2(kPlotWidth, kPlotHeight),
                           ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight);
    const auto toX = [&](float v) { return origin.x + (v - low) / (high - low) * kPlotWidth; };
    const auto toY = [&](float a) { return origin.y + (1.0f - a) * kPlotHeight; };
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const float mouseValue = low + (mouse.x - origin.x) / kPlotWidth * (high - low);
    const float mouseAlpha = 1.0f - (mouse.y - origin.y) / kPlotHeight;
    const float valueRadius = kPickRadius / kPlotWidth * (high - low);
    const float alphaRadius = kPickRadius / kPlotHeight;

    // press: pick a point or add one; right press: delete the point under the pointer
    if (ImGui::IsItemClicked(ImGuiMouseButton_Left)) {
        p.selected = PointNear(f, mouseValue, mouseAlpha, valueRadius, alphaRadius);
        if (p.selected < 0) {
            Vector4 colour = ColourAt(f, mouseValue);
            if (colour.w == 0.0f) colour = Vector4(1.0f, 1.0f, 1.0f, 0.0f);
            colour.w = std::min(std::max(mouseAlpha, 0.0f), 1.0f);
            p.selected = f.AddPoint(mouseValue, colour);
            Changed("point added");
        }
        p.dragging = true;
    }
    if (ImGui::IsItemClicked(ImGuiMouseButton_Right)) {
        const int hit = PointNear(f, mouseValue, mouseAlpha, valueRadius, alphaRadius);
        if (hit >= 0) {
            f.RemovePoint(hit);
            p.selected = -1;
            Changed("point deleted");
        }
    }
    if (p.dragging && !ImGui::IsMouseDown(ImGuiMouseButton_Left)) p.dragging = false;
    if (p.dragging && p.selected >= 0 && ImGui::IsMouseDragging(ImGuiMouseButton_Left, 0.0f)) {
        p.selected = MovePoint(f, p.selected, mouseValue, mouseAlpha);
        p.changed = true;
    }

    // histogram, then the colour curves and the opacity curve over the table, then the points
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(origin, ImVec2(origin.x + kPlotWidth, origin.y + kPlotHeight),
                        IM_COL32(30, 30, 34, 255));
    const float barWidth = kPlotWidth / float(p.histogram.size());
    for (size_t i = 0; i < p.histogram.size(); ++i) {
        const float x = origin.x + float(i) * barWidth;
        draw->AddRectFilled(ImVec2(x, toY(p.histogram[i])),
                            ImVec2(x + barWidth, origin.y + kPlotHeight),
                            IM_COL32(80, 80, 90, 255));
    }
    const int entries = f.GetSampleNumber();
    const Vector4* table = f.GetData();
    const ImU32 curveColours[4] = {IM_COL32(230, 60, 60, 255), IM_COL32(60, 200, 60, 255),
                                   IM_COL32(70, 110, 240, 255), IM_COL32(240, 240, 240, 255)};
    for (int c = 0; c < 4 && table != nullptr && entries > 1; ++c) {
        std::vector<ImVec2> line;
        const int step = std::max(1, entries / int(kPlotWidth));
        for (int i = 0; i < entries; i += step) {
            const float value = low + float(i) / float(entries - 1) * (high - low);
            line.push_back(ImVec2(toX(value), toY(static_cast<const float*>(table[i])[c])));
        }
        draw->AddPolyline(line.data(), int(line.size()), curveColours[c], 0, c == 3 ? 2.0f : 1.0f);
    }
    for (int i = 0; i < f.GetPointCount(); ++i) {
        const Vector4 rgba = f.GetValue(i);
        const ImVec2 at(toX(f.GetPos(i)), toY(rgba.w));
        draw->AddCircleFilled(at, 5.0f,
                              ImGui::ColorConvertFloat4ToU32(ImVec4(rgba.x, rgba.y, rgba.z, 1.0f)));
        draw->AddCircle(at, 6.0f,
                        i == p.selected ? IM_COL32(255, 220, 0, 255) : IM_COL32(0, 0, 0, 255));
    }
}

// The selected point's settings, the presets, saving and loading.
void Controls() {
    RGBATransferFunction1D& f = *p.function;
    if (p.selected >= f.GetPointCount()) p.selected = -1;
    if (p.selected >= 0) {
        Vector4 rgba = f.GetValue(p.selected);
        float colour[3] = {rgba.x, rgba.y, rgba.z};
        ImGui::Text("point %d at %g", p.selected, double(f.GetPos(p.selected)));
        if (ImGui::ColorEdit3("colour", colour)) {
            f.SetRGBAValue(p.selected, Vector4(colour[0], colour[1], colour[2], rgba.w));
            p.changed = true;
        }
        if (ImGui::SliderFloat("opacity", &rgba.w, 0.0f, 1.0f)) {
            f.SetRGBAValue(p.selected, rgba);
            p.changed = true;
        }
    } else {
        ImGui::TextUnformatted("click: add a point, drag: move it, right click: delete it");
    }
    if (ImGui::BeginCombo("preset", "choose...")) {
        for (const std::string& name : TransferFunctionPresetNames()) {
            if (ImGui::Selectable(name.c_str()) &&
                LoadTransferFunctionPreset(name, f, p.defaults)) {
                p.selected = -1;
                if (p.defaults != nullptr) SetHistogram(p.defaults->histogram);
                Changed(("preset " + name).c_str());
            }
        }
        ImGui::EndCombo();
    }
    if (p.defaults != nullptr && ImGui::Button("reset to the data's default")) {
        MakeDefaultTransferFunction(*p.defaults, f);
        p.selected = -1;
        SetHistogram(p.defaults->histogram);
        Changed("reset to the data's default");
    }
    ImGui::InputText("file", p.path, sizeof p.path);
    if (ImGui::Button("save")) {
        try {
            SaveTransferFunctionFile(p.path, f);
            Report(std::string("saved ") + p.path);
        } catch (const InputError& error) {
            Report(error.what());
        }
    }
    ImGui::SameLine();
    if (ImGui::Button("load")) {
        try {
            LoadTransferFunctionFile(p.path, f);
            p.selected = -1;
            Changed((std::string("loaded from ") + p.path).c_str());
        } catch (const InputError& error) {
            Report(error.what());
        }
    }
    if (!p.status.empty()) ImGui::TextWrapped("%s", p.status.c_str());
}

// One panel frame; drawn into the current frame when `render` is set.
void Frame(bool render) {
    ImGui_ImplOpenGL2_NewFrame();
    ImGui_ImplGLUT_NewFrame();  // also starts the Dear ImGui frame
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(10.0f, std::max(10.0f, display.y - 290.0f)),
                            ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowBgAlpha(0.85f);
    ImGui::Begin("transfer function", nullptr, ImGuiWindowFlags_AlwaysAutoResize);
    Plot();
    Controls();
    const ImVec2 pos = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    p.windowX = pos.x;
    p.windowY = pos.y;
    p.windowW = size.x;
    p.windowH = size.y;
    ImGui::End();
    if (render) {
        ImGui::Render();
        ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    } else {
        ImGui::EndFrame();
    }
}

bool Over(int x, int y) {
    return float(x) >= p.windowX && float(x) < p.windowX + p.windowW && float(y) >= p.windowY &&
           float(y) < p.windowY + p.windowH;
}

// Runs a panel frame for an event the panel takes.
bool Take(bool& changed) {
    p.changed = false;
    Frame(false);
    changed = p.changed;
    return true;
}

}  // namespace

void Open(RGBATransferFunction1D* function, VolumeData* volume, const DataDefaults* defaults) {
    if (p.open || function == nullptr) return;
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // no imgui.ini beside the user's files
    ImGui::StyleColorsDark();
    ImGui_ImplGLUT_Init();
    ImGui_ImplOpenGL2_Init();
    ImGui_ImplGLUT_ReshapeFunc(glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
    p.open = true;
    p.function = function;
    p.defaults = defaults != nullptr && defaults->usable ? defaults : nullptr;
    if (p.defaults != nullptr)
        SetHistogram(p.defaults->histogram);
    else if (volume != nullptr)
        SetHistogram(*volume);
    Frame(false);  // lays the panel out, so that events find it before the first drawing
    char line[160];
    std::snprintf(
        line, sizeof line,
        "transfer-function editor: plot at %.0f %.0f, %.0f x %.0f pixels, values %g .. %g",
        double(p.plotX), double(p.plotY), double(kPlotWidth), double(kPlotHeight),
        double(function->GetMinPos()), double(function->GetMaxPos()));
    Report(line);
    p.status.clear();
}

void Close() {
    if (!p.open) return;
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplGLUT_Shutdown();
    ImGui::DestroyContext();
    p.open = false;
}

bool Mouse(int button, int state, int x, int y, bool& changed) {
    changed = false;
    if (!p.open) return false;
    const bool down = state == GLUT_DOWN;
    if (down && !Over(x, y)) return false;
    if (!down && !p.pointerDown) return false;
    p.pointerDown = down;
    ImGui_ImplGLUT_MotionFunc(x, y);
    ImGui_ImplGLUT_MouseFunc(button, state, x, y);
    return Take(changed);
}

bool Motion(int x, int y, bool& changed) {
    changed = false;
    if (!p.open) return false;
    ImGui_ImplGLUT_MotionFunc(x, y);
    if (!p.pointerDown) return Over(x, y);
    return Take(changed);
}

bool Keyboard(unsigned char key, int x, int y, bool& changed) {
    changed = false;
    if (!p.open || !ImGui::GetIO().WantTextInput) return false;
    ImGui_ImplGLUT_KeyboardFunc(key, x, y);
    return Take(changed);
}

void Reshape(int width, int height) {
    if (p.open) ImGui_ImplGLUT_ReshapeFunc(width, height);
}

void Draw() {
    if (p.open) Frame(true);
}

}  // namespace tfpanel
