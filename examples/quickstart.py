"""A first look at morvane: import the module and show what it offers."""
import morvane

print(morvane.__doc__)
print("exports:", ", ".join(name for name in vars(morvane) if not name.startswith("_")) or "(none yet)")
