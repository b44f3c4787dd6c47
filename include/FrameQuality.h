// The interactive-quality settings a host gives a scene and what the scene reports about the
// frame it drew last: coarse frames that fit a time budget while input is under way, refined to
// the full picture in steps once it stops.
#pragma once

// A plain value: settings (host-written through the scene's setters) followed by the report of
// the last frame (scene-written). Copies are independent; GL thread only.
struct FrameQuality {
    /// What the last frame was.
    enum Kind {
        kFullFrame,    ///< every ray of the full picture, cast at once (as without this setting)
        kCoarseFrame,  ///< every stride-th ray in x and y, interpolated up when drawn
        kRefineStep    ///< one band of full-quality rows laid over the coarse picture shown
    };

    bool enabled = false;      ///< false: every frame is a full frame (the library default)
    float budgetMs = 60.0f;    ///< 60; milliseconds a coarse frame or a refinement step aims at
    bool interacting = false;  ///< host: input (drag, wheel, walk) is under way
    bool restart = false;      ///< input since the last frame (SetInteracting(true)): the
                               ///< next frame is a coarse one, whatever refinement was going on

    Kind kind = kFullFrame;       ///< what the last frame was
    int stride = 1;               ///< 1; ray spacing of the shown picture's base, pixels
    float distanceFactor = 1.0f;  ///< 1; sample distance of the last cast / the full one
    bool complete = true;         ///< the picture shown is the full-quality picture
    float refined = 1.0f;         ///< 1; fraction of the shown picture's rows at full quality
    float frameMs = 0.0f;         ///< 0; time of the last frame (cast, interpolation, draw), ms
};
