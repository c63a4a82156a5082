"""A first look at the library from Python."""
import _pyquorvanelite_cppwrappers as qv

print("quorvane version", qv.VERSION)
options = qv.get_print_options()
print("print options: precision", options.precision,
      "leading elements", options.num_printed_elements)
print("devices:", qv.DEVICE_CPU, qv.DEVICE_GPU)
