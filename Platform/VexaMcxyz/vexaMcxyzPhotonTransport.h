#ifndef vexaMcxyzPhotonTransport_h
#define vexaMcxyzPhotonTransport_h

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa
{
  namespace mcxyz
  {
    /**
     * The medium: a box of voxels with optical properties, indexed
     * x + nx * (y + ny * z). z is the depth axis: the top face is z = 0 and
     * depth grows with z. Coefficients are in 1/cm, sizes in cm.
     */
    struct OpticalVolume
    {
      std::array<std::size_t, 3> dimensions{{0, 0, 0}};
      std::array<double, 3> voxelSizeCm{{0, 0, 0}};
      std::vector<float> absorption; ///< mu_a [1/cm]
      std::vector<float> scattering; ///< mu_s [1/cm]
      std::vector<float> anisotropy; ///< g of the Henyey-Greenstein phase function, in [-1, 1]

      std::size_t NumberOfVoxels() const { return dimensions[0] * dimensions[1] * dimensions[2]; }

      /** Throws std::invalid_argument naming the first fault (sizes, negative or non-finite values). */
      void Validate() const;
    };

    /**
     * One light source of a probe. Positions are in cm, x and y measured
     * from the lateral centre of the top face, z downward from the top face
     * (negative z lies above the volume). The launch point is spread over the
     * x-y plane around the position according to the profile; every photon
     * leaves along the direction.
     */
    struct LightSource
    {
      enum class Profile
      {
        Pencil,    ///< all photons at the position
        Gaussian,  ///< 2-D Gaussian, radius = 1/e^2 intensity radius
        Disc,      ///< uniform over a disc of the radius
        Rectangle  ///< uniform over width (along x) times length (along y)
      };
      Profile profile = Profile::Pencil;
      std::array<double, 3> positionCm{{0, 0, 0}};
      std::array<double, 3> direction{{0, 0, 1}};
      double radiusCm = 0;
      double widthCm = 0;
      double lengthCm = 0;
      /** Relative share of the photons; shares are normalised over the probe. */
      double weight = 1;
    };

    /** The sources of a probe and the lateral offset that shifts all of them along y. */
    struct Illumination
    {
      std::vector<LightSource> sources;
      double lateralOffsetCm = 0;

      /** Without a probe: one pencil beam into the centre of the top face, straight down. */
      static Illumination Default();

      /** Throws std::invalid_argument for no sources, bad directions, sizes or weights. */
      void Validate() const;
    };

    struct TransportSettings
    {
      std::uint64_t photons = 100000;
      std::uint64_t seed = 1;
      /** Worker threads; 0 means one per hardware thread. */
      unsigned int threads = 1;
      /** Russian roulette: below this weight a packet survives with the chance and weight / chance. */
      double rouletteThreshold = 0.01;
      double rouletteChance = 0.1;
      /** Also keep the absorbed energy per voxel (one more volume of tallies per thread). */
      bool tallyAbsorbedEnergy = false;
    };

    /**
     * What a run produced. Energies are in photon weights (every launched
     * packet carries 1), so launched == photons; the balance
     * launched == absorbed + escaped + rouletteLoss - rouletteGain
     * holds up to rounding for every run.
     */
    struct TransportResult
    {
      /** Fluence per unit launched energy [1/cm^2]: track length x weight / (photons x voxel volume). */
      std::vector<double> fluence;
      /** Absorbed share of the launched energy per voxel; empty unless tallyAbsorbedEnergy. */
      std::vector<double> absorbed;
      double launched = 0;
      double absorbedTotal = 0;
      double escaped = 0;
      double rouletteGain = 0;
      double rouletteLoss = 0;
      std::uint64_t interactions = 0;
      unsigned int threadsUsed = 0;
    };

    /**
     * Cosine of the scattering angle for the Henyey-Greenstein phase function
     * with anisotropy g, from a uniform number xi in [0, 1].
     */
    double SampleHenyeyGreensteinCosine(double g, double xi);

    /**
     * Voxel Monte-Carlo transport of weighted photon packets. Each thread
     * runs its share of the packets on its own random stream (stream t of
     * the seed) into its own tallies; tallies are summed in thread order, so
     * a run is reproducible for the same seed and thread count.
     *
     * Throws std::invalid_argument for an invalid volume, illumination or
     * settings; an error in a worker thread is rethrown here after all
     * threads ended.
     */
    TransportResult SimulatePhotonTransport(const OpticalVolume &volume,
                                            const Illumination &illumination,
                                            const TransportSettings &settings);
  }
}

#endif
