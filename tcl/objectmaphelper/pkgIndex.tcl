package ifneeded tarvin::objectmaphelper 1.0 [list source -encoding utf-8 [file join $dir objectmaphelper.tcl]]
