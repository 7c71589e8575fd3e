"""Small simulate case files that the Python tests run or sweep."""


def nucleation_case(times, output_file=None):
    """A vapour cooling through its nucleation window on 12 nodes: a fraction of a second.
    `times` output times; `output_file` the [output] file key when given."""
    text = """# a vapour cooling through its nucleation window on 12 nodes
[mechanisms]
nucleation = true
coagulation = true
kernel = "free-molecular"
growth = true
vapor = "depleted"

[material]
molar_mass = 0.1
density = 2000.0
surface_tension_a = 500.0
surface_tension_b = 0.2
vapor_pressure_c = 10.0
vapor_pressure_d = 30000.0

[grid]
nodes = 12

[initial]
saturation_ratio = 1.001

[temperature]
law = "cooling"
start = 1500.0
cooling_rate = 6000.0

[end]
temperature = 300.0

[output]
"""
    text += f"times = {times}\n"
    if output_file is not None:
        text += f'file = "{output_file}"\n'
    return text
