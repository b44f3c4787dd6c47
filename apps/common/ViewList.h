// Every view, one line each: KESTREL_VIEW(factory), the factory defined in the view's file as
// std::unique_ptr<View> factory(). The order is that of --help; the first is the default view.
KESTREL_VIEW(MakeMIPView)
KESTREL_VIEW(MakeIsoView)
KESTREL_VIEW(MakeFullView)
KESTREL_VIEW(MakeCubeView)
